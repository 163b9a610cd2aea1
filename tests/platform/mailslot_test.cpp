#include <gtest/gtest.h>

#include <sched.h>

#include <numeric>
#include <vector>

#include "platform/mailslot/mailslot.h"

namespace ms = platform::mailslot;

namespace {
// Abstract socket names are per network namespace: give each test run a name of its own.
std::string UniqueName(const char* base) {
    return std::string(base) + std::to_string(::getpid());
}
}  // namespace

TEST(Mailslot, NameIsExclusiveUntilClosed) {
    auto name = UniqueName("EXCL");
    auto first = ms::Mailslot::Create(name, 400);
    ASSERT_TRUE(first);
    EXPECT_FALSE(ms::Mailslot::Create(name, 400));
    EXPECT_FALSE(ms::Mailslot::Create("\\mailslot\\" + name, 400)) << "names are case-insensitive";
    first->Close();
    EXPECT_TRUE(ms::Mailslot::Create(name, 400));
}

TEST(Mailslot, DatagramsArriveWholeAndInOrderWithSizes) {
    auto name = UniqueName("ORDER");
    auto slot = ms::Mailslot::Create(name, 400);
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->GetInfo()->waiting, 0u);

    std::vector<std::uint8_t> big(400);
    std::iota(big.begin(), big.end(), 0);
    EXPECT_EQ(ms::Write(name, big), ms::WriteResult::Written);
    EXPECT_EQ(ms::Write(name, {}), ms::WriteResult::Written);
    std::vector<std::uint8_t> too_big(401, 7);
    EXPECT_EQ(ms::Write(name, too_big), ms::WriteResult::Written);
    std::uint8_t last[] = {'x', 'y'};
    EXPECT_EQ(ms::Write(name, last), ms::WriteResult::Written);

    std::vector<std::uint8_t> out(1024);
    auto info = slot->GetInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->waiting, 1u);
    EXPECT_EQ(info->next_size, 400u);
    EXPECT_EQ(slot->Read(out), 400u);
    EXPECT_TRUE(std::equal(big.begin(), big.end(), out.begin()));

    info = slot->GetInfo();
    EXPECT_EQ(info->waiting, 1u) << "an empty datagram still counts as waiting";
    EXPECT_EQ(info->next_size, 0u);
    EXPECT_EQ(slot->Read(out), 0u);

    info = slot->GetInfo();  // the oversized one is dropped
    EXPECT_EQ(info->next_size, 2u);
    EXPECT_EQ(slot->Read(out), 2u);
    EXPECT_EQ(slot->GetInfo()->waiting, 0u);
}

TEST(Mailslot, WritingToAMissingMailslotSaysSo) {
    std::uint8_t b = 1;
    EXPECT_EQ(ms::Write(UniqueName("NOBODY"), std::span(&b, 1)), ms::WriteResult::NoSuchMailslot);
    EXPECT_FALSE(ms::Writer::Open(UniqueName("NOBODY")));
}
