#include <gtest/gtest.h>

#include "platform/netbios/interfaces.h"
#include "platform/netbios/mailslot_delivery.h"

// LANA numbering and the hand-over of network mailslot writes to local mailslots.
namespace nb = platform::netbios;
using platform::mailslot::WriteResult;

namespace {

std::vector<std::uint8_t> Assign(nb::LanaNumbers& numbers,
                                 std::initializer_list<std::pair<const char*, unsigned>> present) {
    std::vector<nb::InterfaceInfo> list;
    for (auto [name, index] : present) {
        list.push_back({name, index, false, {}, {}});
    }
    return numbers.Assign(list);
}

TEST(LanaNumbers, StayWithTheirInterfaceAndAreNeverTakenFromALiveOne) {
    nb::LanaNumbers n;
    EXPECT_EQ(Assign(n, {{"lo", 1}, {"eth0", 2}}), (std::vector<std::uint8_t>{0, 1}));
    // Order of enumeration does not matter; a new interface gets a new number.
    EXPECT_EQ(Assign(n, {{"eth1", 3}, {"eth0", 2}, {"lo", 1}}),
              (std::vector<std::uint8_t>{2, 1, 0}));
    // One that left and came back keeps its number; one recreated under the same name is new.
    EXPECT_EQ(Assign(n, {{"lo", 1}}), std::vector<std::uint8_t>{0});
    EXPECT_EQ(Assign(n, {{"lo", 1}, {"eth0", 2}, {"eth1", 9}}),
              (std::vector<std::uint8_t>{0, 1, 3}));

    // After every number was used once, only numbers of absent interfaces come back.
    nb::LanaNumbers churn;
    for (unsigned i = 0; i < 300; ++i) {
        auto lanas = churn.Assign({{"lo", 1, false, {}, {}}, {"veth", 100 + i, false, {}, {}}});
        ASSERT_EQ(lanas[0], 0) << "loopback keeps its number";
        ASSERT_NE(lanas[1], 0);
        ASSERT_NE(lanas[1], 0xFF);
    }
}

// A mailslot that exists or not and takes `room` more datagrams.
struct FakeMailslot {
    bool exists = true;
    int room = 0;
    std::vector<std::uint8_t> taken;  // the first byte of each
    nb::MailslotDelivery Delivery(std::size_t backlog) {
        return nb::MailslotDelivery(
            [this](std::string_view, std::span<const std::uint8_t> data) {
                if (!exists) {
                    return WriteResult::NoSuchMailslot;
                }
                if (room == 0) {
                    return WriteResult::WouldBlock;
                }
                --room;
                taken.push_back(data[0]);
                return WriteResult::Written;
            },
            backlog);
    }
};

TEST(MailslotDelivery, KeepsOrderWhileTheMailslotIsFullAndDropsPastTheBound) {
    FakeMailslot slot;
    slot.room = 1;
    auto d = slot.Delivery(3);
    const auto t0 = nb::MailslotDelivery::Clock::now();
    for (std::uint8_t i = 0; i < 6; ++i) {
        d.Deliver("\\MAILSLOT\\MESSNGR", std::span(&i, 1), t0);
    }
    // 0 went straight in, 1..3 wait, 4 and 5 found the queue full.
    EXPECT_EQ(d.Waiting(), 3u);
    EXPECT_EQ(d.Dropped(), 2u);
    d.Retry(t0);  // not due yet
    EXPECT_EQ(d.Waiting(), 3u);
    slot.room = 2;
    d.Retry(*d.NextRetry());
    EXPECT_EQ(d.Waiting(), 1u);
    // A new datagram queues behind the waiting one rather than overtaking it.
    slot.room = 5;
    const std::uint8_t late = 9;
    d.Deliver("messngr", std::span(&late, 1), t0);
    EXPECT_EQ(d.Waiting(), 2u) << "same mailslot, any spelling";
    d.Retry(*d.NextRetry());
    EXPECT_FALSE(d.NextRetry());
    EXPECT_EQ(slot.taken, (std::vector<std::uint8_t>{0, 1, 2, 3, 9}));
}

TEST(MailslotDelivery, AVanishedReaderTakesItsQueueWithIt) {
    FakeMailslot slot;
    auto d = slot.Delivery(10);
    const std::uint8_t byte = 1;
    const auto t0 = nb::MailslotDelivery::Clock::now();
    d.Deliver("A", std::span(&byte, 1), t0);
    d.Deliver("A", std::span(&byte, 1), t0);
    slot.exists = false;
    d.Retry(*d.NextRetry());
    EXPECT_EQ(d.Waiting(), 0u);
    EXPECT_EQ(d.Dropped(), 2u);
    d.Deliver("B", std::span(&byte, 1), t0);
    EXPECT_EQ(d.Waiting(), 0u) << "no such mailslot: nothing to wait for";

    // Many distinct names cannot make the queues grow without end.
    slot.exists = true;
    for (int i = 0; i < 100; ++i) {
        d.Deliver("SLOT" + std::to_string(i), std::span(&byte, 1), t0);
    }
    EXPECT_LE(d.Waiting(), nb::MailslotDelivery::kMaxQueues);
}

}  // namespace
