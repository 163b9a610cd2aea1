#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "platform/mailslot/mailslot.h"

namespace ms = platform::mailslot;

TEST(Mailslot, NameIsExclusiveUntilClosedAndDiesWithItsProvider) {
    auto first = ms::Mailslot::Create("EXCL", 400);
    ASSERT_TRUE(first);
    EXPECT_FALSE(ms::Mailslot::Create("\\mailslot\\excl", 400)) << "names are case-insensitive";
    auto writer = ms::Writer::Open("EXCL");
    ASSERT_TRUE(writer);
    first->Close();
    std::uint8_t b = 1;
    EXPECT_EQ(writer->Write(std::span(&b, 1)), ms::WriteResult::NoSuchMailslot);
    EXPECT_EQ(ms::Write("EXCL", std::span(&b, 1)), ms::WriteResult::NoSuchMailslot);
    EXPECT_FALSE(ms::Writer::Open("EXCL"));

    auto again = ms::Mailslot::Create("EXCL", 400);
    ASSERT_TRUE(again);
    ASSERT_TRUE(again->GetInfo());
    // Datagrams now arrive elsewhere: the mailslot must be made again, through the provider.
    ms::SetProvider([](std::string_view, std::size_t) { return std::nullopt; });
    EXPECT_FALSE(again->GetInfo());
    EXPECT_FALSE(ms::Mailslot::Create("OTHER", 400));
    ms::SetProvider(nullptr);
}

TEST(Mailslot, DatagramsArriveWholeAndInOrderWithSizes) {
    auto slot = ms::Mailslot::Create("ORDER", 400);
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->GetInfo()->waiting, 0u);

    std::vector<std::uint8_t> big(400);
    std::iota(big.begin(), big.end(), 0);
    EXPECT_EQ(ms::Write("ORDER", big), ms::WriteResult::Written);
    EXPECT_EQ(ms::Write("ORDER", {}), ms::WriteResult::Written);
    std::vector<std::uint8_t> too_big(401, 7);
    EXPECT_EQ(ms::Write("ORDER", too_big), ms::WriteResult::Written);
    std::uint8_t last[] = {'x', 'y'};
    EXPECT_EQ(ms::Write("ORDER", last), ms::WriteResult::Written);

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
