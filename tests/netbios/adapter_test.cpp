#include <gtest/gtest.h>

#include "platform/netbios/interfaces.h"
#include "platform/netbios/mailslot_delivery.h"

// LANA numbering and the hand-over of network mailslot writes to local mailslots.
namespace nb = platform::netbios;
using platform::mailslot::WriteResult;

namespace {

nb::InterfaceInfo If(std::string name, unsigned index) {
    nb::InterfaceInfo i;
    i.name = std::move(name);
    i.index = index;
    return i;
}

TEST(LanaNumbers, StayWithTheirInterfaceAndAreNeverTakenFromALiveOne) {
    nb::LanaNumbers numbers;
    EXPECT_EQ(numbers.Assign({If("lo", 1), If("eth0", 2)}), (std::vector<std::uint8_t>{0, 1}));
    // Order of enumeration does not matter; a new interface gets a new number.
    EXPECT_EQ(numbers.Assign({If("eth1", 3), If("eth0", 2), If("lo", 1)}),
              (std::vector<std::uint8_t>{2, 1, 0}));
    // One that left and came back keeps its number; one recreated under the same name is new.
    EXPECT_EQ(numbers.Assign({If("lo", 1)}), std::vector<std::uint8_t>{0});
    EXPECT_EQ(numbers.Assign({If("lo", 1), If("eth0", 2), If("eth1", 9)}),
              (std::vector<std::uint8_t>{0, 1, 3}));

    // After every number was used once, only numbers of absent interfaces come back.
    nb::LanaNumbers churn;
    for (unsigned i = 0; i < 300; ++i) {
        auto n = churn.Assign({If("lo", 1), If("veth", 100 + i)});
        ASSERT_EQ(n[0], 0) << "loopback keeps its number";
        ASSERT_NE(n[1], 0);
        ASSERT_NE(n[1], 0xFF);
    }
}

class FakeMailslot {
  public:
    WriteResult Write(std::string_view name, std::span<const std::uint8_t> data) {
        names.emplace_back(name);
        if (exists == false) {
            return WriteResult::NoSuchMailslot;
        }
        if (room == 0) {
            return WriteResult::WouldBlock;
        }
        --room;
        taken.emplace_back(data.begin(), data.end());
        return WriteResult::Written;
    }
    bool exists = true;
    int room = 0;
    std::vector<std::string> names;
    std::vector<std::vector<std::uint8_t>> taken;
};

TEST(MailslotDelivery, KeepsOrderWhileTheMailslotIsFullAndDropsPastTheBound) {
    FakeMailslot slot;
    slot.room = 1;
    nb::MailslotDelivery d([&](auto n, auto b) { return slot.Write(n, b); }, 3);
    const auto t0 = nb::MailslotDelivery::Clock::now();
    for (std::uint8_t i = 0; i < 6; ++i) {
        const std::uint8_t byte[] = {i};
        d.Deliver("\\MAILSLOT\\MESSNGR", byte, t0);
    }
    // 0 went straight in, 1..3 wait, 4 and 5 found the queue full.
    EXPECT_EQ(slot.taken.size(), 1u);
    EXPECT_EQ(d.Waiting(), 3u);
    EXPECT_EQ(d.Dropped(), 2u);
    ASSERT_TRUE(d.NextRetry());
    d.Retry(t0);  // not due yet
    EXPECT_EQ(d.Waiting(), 3u);

    slot.room = 2;
    d.Retry(*d.NextRetry());
    EXPECT_EQ(d.Waiting(), 1u);
    // A new datagram queues behind the waiting one rather than overtaking it.
    slot.room = 5;
    const std::uint8_t late[] = {9};
    d.Deliver("messngr", late, t0);
    EXPECT_EQ(d.Waiting(), 2u) << "same mailslot, any spelling";
    d.Retry(*d.NextRetry());
    EXPECT_EQ(d.Waiting(), 0u);
    EXPECT_FALSE(d.NextRetry());
    std::vector<std::uint8_t> order;
    for (const auto& t : slot.taken) {
        order.push_back(t[0]);
    }
    EXPECT_EQ(order, (std::vector<std::uint8_t>{0, 1, 2, 3, 9}));
}

TEST(MailslotDelivery, AVanishedReaderTakesItsQueueWithIt) {
    FakeMailslot slot;
    nb::MailslotDelivery d([&](auto n, auto b) { return slot.Write(n, b); }, 10);
    const std::uint8_t byte[] = {1};
    const auto t0 = nb::MailslotDelivery::Clock::now();
    d.Deliver("A", byte, t0);
    d.Deliver("A", byte, t0);
    slot.exists = false;
    d.Retry(*d.NextRetry());
    EXPECT_EQ(d.Waiting(), 0u);
    EXPECT_EQ(d.Dropped(), 2u);
    d.Deliver("B", byte, t0);
    EXPECT_EQ(d.Waiting(), 0u) << "no such mailslot: nothing to wait for";

    // Many distinct names cannot make the queues grow without end.
    slot.exists = true;
    for (int i = 0; i < 100; ++i) {
        d.Deliver("SLOT" + std::to_string(i), byte, t0);
    }
    EXPECT_LE(d.Waiting(), nb::MailslotDelivery::kMaxQueues);
}

}  // namespace
