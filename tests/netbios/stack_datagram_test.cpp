#include <gtest/gtest.h>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/wire/datagram.h"
#include "platform/netbios/wire/mailslot_write.h"
#include "tests/netbios/netbios_test_util.h"

// Mailslot datagrams from the network to local mailslots.
using namespace nbtest;
using namespace std::chrono_literals;

namespace {

class NetbiosDatagrams : public LoopbackStack {
  protected:
    void SetUp() override {
        LoopbackStack::SetUp();
        if (IsSkipped()) {
            return;
        }
        Start();
        slot_ = platform::mailslot::Mailslot::Create(kSlot, 400);
        ASSERT_TRUE(slot_);
    }
    // A datagram to 127.0.0.1:138 carrying a mailslot write.
    void Send(std::uint8_t type, const wire::NetbiosName& destination, std::size_t size,
              std::uint8_t fill, std::uint8_t flags = wire::datagram_flags::kFirst) {
        auto smb =
            wire::EncodeMailslotWrite(kSlot, Bytes(size, fill), wire::mailslot_class::kUnreliable);
        auto packet = wire::EncodeDatagram(type, 1, loopback_, 138, wire::MakeName("SRC", 0),
                                           destination, smb);
        packet[1] = flags;
        ASSERT_TRUE(udp_->SendTo(loopback_, 138, packet));
    }
    std::optional<Bytes> Next(int timeout_ms = 3000) {
        Bytes out(1024);
        for (int waited = 0; waited < timeout_ms; waited += 5) {
            if (auto n = slot_->Read(out)) {
                out.resize(*n);
                return out;
            }
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }

    static constexpr const char* kSlot = "\\MAILSLOT\\MESSNGR";
    std::optional<platform::mailslot::Mailslot> slot_;
};

TEST_F(NetbiosDatagrams, OnlyWholeWritesForThisNodeWithinTheSizeLimitAreDelivered) {
    ASSERT_EQ(Submit(nb::NCBADDNAME, "ROSA"), nb::NRC_GOODRET);
    namespace type = wire::datagram_type;
    Send(type::kDirectUnique, wire::MakeName("STRANGER", 3), 10, 1);
    Send(type::kDirectGroup, wire::MakeName("WORKGROUP", 0), 10, 2,
         wire::datagram_flags::kFirst | wire::datagram_flags::kMore);
    Send(type::kBroadcast, wire::WildcardName(), 401, 3);
    udp_->SendTo(loopback_, 138, {0x10, 0x02, 0, 1});
    Send(type::kDirectUnique, wire::MakeName("ROSA", 3), 5, 4);
    Send(type::kDirectUnique, wire::MakeName("TESTHOST", 0), 6, 5);
    Send(type::kDirectGroup, wire::MakeName("WORKGROUP", 0), 400, 6);
    Send(type::kBroadcast, wire::WildcardName(), 0, 7);

    // Only the last four arrive, in order.
    EXPECT_EQ(Next(), Bytes(5, 4));
    EXPECT_EQ(Next(), Bytes(6, 5));
    EXPECT_EQ(Next(), Bytes(400, 6));
    EXPECT_EQ(Next(), Bytes{});
    EXPECT_FALSE(Next(200));
}

TEST_F(NetbiosDatagrams, ABurstWaitsForASlowReaderInsteadOfBeingLost) {
    constexpr int kBurst = 40;
    for (int i = 0; i < kBurst; ++i) {
        Send(wire::datagram_type::kDirectGroup, wire::MakeName("WORKGROUP", 0), 20,
             static_cast<std::uint8_t>(i));
    }
    for (int i = 0; i < kBurst; ++i) {
        auto d = Next();
        ASSERT_TRUE(d) << "datagram " << i << " lost";
        EXPECT_EQ((*d)[0], i);
        std::this_thread::sleep_for(2ms);
    }
}

}  // namespace
