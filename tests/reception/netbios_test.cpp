#include <gtest/gtest.h>

#include <set>

#include "platform/netbios/wire/name_service.h"
#include "reception/netbios/netbios_name.h"
#include "reception/netbios/netbios_network.h"
#include "tests/netbios/netbios_test_util.h"

// The NetBIOS network and name port against a stack of the test's own namespace, whose adapters
// are loopback and the veth pairs the test makes and deletes.
using namespace nbtest;
using namespace std::chrono_literals;
using tolvane::test::VethPeer;

namespace {

class ReceptionNetbios : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tolvane::test::EnterPrivateNetworkNamespace()) {
            GTEST_SKIP() << "needs a private network namespace (root)";
        }
    }
    void TearDown() override { nb::SetProcessStack(nullptr); }
    std::shared_ptr<nb::Stack> Install(std::vector<std::string> interfaces) {
        auto stack = std::make_shared<nb::Stack>(TestConfig(std::move(interfaces)));
        nb::SetProcessStack(stack);
        return stack;
    }
};

// Scans right here, so that nothing but the test changes the adapters between two scans.
class ScannedNetwork : public TlNetbiosNetwork {
  public:
    bool ScanNow() {
        std::lock_guard g(lock());
        changed_ = false;
        Scan();
        return changed_;
    }
    std::vector<std::uint8_t> Lanas() {
        std::vector<std::uint8_t> lanas;
        for (const auto& i : current()) {
            lanas.push_back(static_cast<TlNetbiosInterface&>(*i).lana());
        }
        return lanas;
    }
};

TEST_F(ReceptionNetbios, ScanAddsAndRemovesAdaptersAndSaysWhenItDid) {
    auto stack = Install({});
    ScannedNetwork net;
    EXPECT_TRUE(net.ScanNow());
    const std::vector<std::uint8_t> loopback = {LanaOf(*stack, "lo")};
    EXPECT_EQ(net.Lanas(), loopback);
    const TlNetworkInterface* first = net.current().front().get();
    EXPECT_FALSE(net.ScanNow()) << "nothing changed";

    auto a = VethPeer::Create(2);
    auto b = VethPeer::Create(3);
    if (!a || !b) {
        GTEST_SKIP() << "cannot create veth pairs here";
    }
    EXPECT_TRUE(net.ScanNow());
    EXPECT_EQ(net.Lanas(),
              (std::vector<std::uint8_t>{loopback[0], LanaOf(*stack, a->local_interface()),
                                         LanaOf(*stack, b->local_interface())}));
    EXPECT_EQ(net.current().front().get(), first) << "an adapter that stays keeps its object";
    a.reset();
    b.reset();
    EXPECT_TRUE(net.ScanNow()) << "both gone in one scan";
    EXPECT_EQ(net.Lanas(), loopback);
    EXPECT_FALSE(net.ScanNow());
}

// A name another node holds keeps the port closed; it asks again every 3000 ms, neither spinning
// nor giving up (counted in a window with room either way), and takes the name once it is free.
TEST_F(ReceptionNetbios, ANameInUseIsAskedForAgainEveryRetryInterval) {
    auto peer = VethPeer::Create(4);
    if (!peer) {
        GTEST_SKIP() << "cannot create veth pairs here";
    }
    auto stack = Install({peer->local_interface()});
    std::optional<RawUdp> owner;
    peer->RunInside([&] { owner.emplace(137); });
    ASSERT_TRUE(owner->bound());

    TlNetbiosInterface adapter(LanaOf(*stack, peer->local_interface()));
    CNetbiosName port("busyname", 3, &adapter);  // the default retry interval
    port.Start();
    // The owner refuses every registration of a name, counting the attempts.
    auto refuse = [&](std::string_view refused, std::set<std::uint16_t>& attempts) {
        std::uint32_t from = 0;
        auto bytes = owner->Receive(50, &from);
        auto p = bytes ? wire::DecodeNsPacket(*bytes) : std::nullopt;
        if (p && !p->response() && p->opcode() == wire::NsOpcode::Registration &&
            p->questions.at(0).name == wire::MakeName(refused, 3)) {
            attempts.insert(p->trn_id);
            owner->SendTo(from, 137,
                          wire::EncodeNegativeRegistrationResponse(p->trn_id, p->questions[0].name,
                                                                   Ipv4(peer->peer_address()),
                                                                   wire::ns_rcode::kActive));
        }
    };
    std::set<std::uint16_t> attempts;
    for (auto end = std::chrono::steady_clock::now() + 6500ms;
         std::chrono::steady_clock::now() < end;) {
        refuse("BUSYNAME", attempts);
    }
    EXPECT_FALSE(port.IsOpen());
    EXPECT_GE(attempts.size(), 2u);
    EXPECT_LE(attempts.size(), 4u);

    // A port asleep between attempts is destroyed at once (an hour's wait would hang the test).
    {
        CNetbiosName asleep("sleeper", 3, &adapter, 3600 * 1000);
        asleep.Start();
        for (std::set<std::uint16_t> refused; refused.empty();) {
            refuse("SLEEPER", refused);
        }
    }

    owner.reset();  // the owner leaves the network
    for (int i = 0; i < 100 && !port.IsOpen(); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(port.IsOpen());
}

}  // namespace
