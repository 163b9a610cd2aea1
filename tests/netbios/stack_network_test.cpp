#include <gtest/gtest.h>

#include <thread>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/wire/name_service.h"
#include "platform/sync/event.h"
#include "tests/netbios/netbios_test_util.h"
#include "tests/support/network_namespace.h"

// Two nodes on either end of a veth pair: our stack here, and a second stack or the Samba tools
// in the peer namespace.
using namespace nbtest;
using namespace std::chrono_literals;
using tolvane::test::VethPeer;

namespace {

class NetbiosVeth : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tolvane::test::EnterPrivateNetworkNamespace()) {
            GTEST_SKIP() << "needs a private network namespace (root)";
        }
        peer_ = VethPeer::Create(1);
        ASSERT_TRUE(peer_) << "cannot create a veth pair";
        local_ = std::make_unique<nb::Stack>(TestConfig({peer_->local_interface()}));
        local_lana_ = LanaOf(*local_, peer_->local_interface());
        ASSERT_NE(local_lana_, 0xFF);
    }
    void TearDown() override {
        remote_.reset();
        local_.reset();
        peer_.reset();
    }
    void StartRemote() {
        peer_->RunInside([&] {
            auto config = TestConfig({peer_->peer_interface()});
            config.computer_name = "PEERHOST";
            remote_ = std::make_unique<nb::Stack>(config);
        });
        remote_lana_ = LanaOf(*remote_, peer_->peer_interface());
        ASSERT_NE(remote_lana_, 0xFF);
    }
    static std::uint8_t Add(nb::Stack& stack, std::uint8_t lana, std::string_view name) {
        auto ncb = Ncb(nb::NCBADDNAME, lana, name);
        return stack.Submit(&ncb);
    }
    bool HaveTool(const char* tool) { return tolvane::test::CommandExists(tool); }

    std::unique_ptr<VethPeer> peer_;
    std::unique_ptr<nb::Stack> local_;
    std::unique_ptr<nb::Stack> remote_;
    std::uint8_t local_lana_ = 0xFF;
    std::uint8_t remote_lana_ = 0xFF;
};

TEST_F(NetbiosVeth, SecondRegistrationOfAHeldNameIsRefusedAndTheOwnerKeepsIt) {
    StartRemote();
    ASSERT_EQ(Add(*local_, local_lana_, "CAROL"), nb::NRC_GOODRET);
    EXPECT_EQ(Add(*remote_, remote_lana_, "CAROL"), nb::NRC_INUSE);
    // The loser holds nothing; the owner still takes sessions.
    auto del = Ncb(nb::NCBDELNAME, remote_lana_, "CAROL");
    EXPECT_EQ(remote_->Submit(&del), nb::NRC_NOWILD);
    platform::Event done;
    auto listen = Ncb(nb::NCBLISTEN | nb::ASYNCH, local_lana_, "CAROL");
    listen.ncb_callname[0] = '*';
    listen.ncb_event = &done;
    ASSERT_EQ(local_->Submit(&listen), nb::NRC_PENDING);
    RawPeer caller;
    ASSERT_TRUE(caller.Connect(Ipv4(peer_->local_address())));
    auto answer = caller.Request("CAROL");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->first, wire::session_type::kPositive);
    platform::Event* events[] = {&done};
    ASSERT_EQ(platform::WaitAny(events, 5000), 0);
    EXPECT_EQ(listen.ncb_retcode, nb::NRC_GOODRET);

    // After the owner releases it, the name is free for the other node.
    auto release = Ncb(nb::NCBDELNAME, local_lana_, "CAROL");
    EXPECT_EQ(local_->Submit(&release), nb::NRC_GOODRET);
    EXPECT_EQ(Add(*remote_, remote_lana_, "CAROL"), nb::NRC_GOODRET);
    EXPECT_EQ(Add(*local_, local_lana_, "CAROL"), nb::NRC_INUSE);
}

TEST_F(NetbiosVeth, BroadcastMailslotDatagramReachesTheOtherNodesMailslot) {
    StartRemote();
    const std::string slot_name = "\\MAILSLOT\\MESSNGR";
    auto slot = platform::mailslot::Mailslot::Create(slot_name, 400);
    ASSERT_TRUE(slot);
    const std::string text = std::string("ALICE\0*\0Hello over the wire", 27);
    const std::vector<std::uint8_t> data(text.begin(), text.end());
    ASSERT_TRUE(remote_->WriteMailslot(remote_lana_, "*", slot_name, data));

    std::vector<std::uint8_t> out(1024);
    std::optional<std::size_t> got;
    for (int i = 0; i < 200 && !got; ++i) {
        got = slot->Read(out);
        if (!got) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ASSERT_TRUE(got);
    out.resize(*got);
    EXPECT_EQ(out, data);

    // Addressed to this computer by name: resolved, then sent direct.
    ASSERT_EQ(Add(*local_, local_lana_, "TESTHOST"), nb::NRC_GOODRET);
    ASSERT_TRUE(remote_->WriteMailslot(remote_lana_, "testhost", "MESSNGR", data));
    got.reset();
    out.assign(1024, 0);
    for (int i = 0; i < 200 && !got; ++i) {
        got = slot->Read(out);
        if (!got) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, data.size());
    EXPECT_FALSE(remote_->WriteMailslot(remote_lana_, "NOSUCHHOST", "MESSNGR", data));
}

TEST_F(NetbiosVeth, NmblookupFindsARegisteredNameAndListsTheNodesNames) {
    if (!HaveTool("nmblookup")) {
        GTEST_SKIP() << "nmblookup not installed";
    }
    ASSERT_EQ(Add(*local_, local_lana_, "DAVE"), nb::NRC_GOODRET);
    ASSERT_EQ(Add(*local_, local_lana_, "TESTHOST"), nb::NRC_GOODRET);
    const std::string address = peer_->local_address();

    auto by_broadcast =
        peer_->Exec({"nmblookup", "-s", "/dev/null", "-B", peer_->broadcast(), "DAVE#03"});
    EXPECT_NE(by_broadcast.output.find(address + " DAVE<03>"), std::string::npos)
        << by_broadcast.output;
    auto unicast = peer_->Exec({"nmblookup", "-s", "/dev/null", "-U", address, "DAVE#03"});
    EXPECT_NE(unicast.output.find(address + " DAVE<03>"), std::string::npos) << unicast.output;
    auto unknown = peer_->Exec({"nmblookup", "-s", "/dev/null", "-U", address, "NOBODY#03"});
    EXPECT_EQ(unknown.output.find(address + " NOBODY"), std::string::npos) << unknown.output;

    auto status = peer_->Exec({"nmblookup", "-s", "/dev/null", "-A", address});
    EXPECT_NE(status.output.find("DAVE"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("<03>"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("TESTHOST"), std::string::npos) << status.output;
}

}  // namespace
