#include <gtest/gtest.h>

#include <string>

#include "platform/codepage/codepage.h"

namespace cp = platform::codepage;

TEST(Codepage, Cp850UmlautsRoundTrip) {
    EXPECT_EQ(cp::OemToUtf8("\x84\x94\x81"), "äöü");
    EXPECT_EQ(cp::Utf8ToOem("äöü"), "\x84\x94\x81");
    EXPECT_EQ(cp::OemToUtf8("plain ASCII\r\n"), "plain ASCII\r\n");
}

TEST(Codepage, EveryOemByteConvertsAndUnmappableBecomesQuestionMark) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    std::string utf8 = cp::OemToUtf8(all);
    EXPECT_EQ(cp::Utf8ToOem(utf8), all);
    EXPECT_EQ(cp::Utf8ToOem("日本"), "??");
    // Malformed UTF-8 costs one '?' per bad byte and never stops the conversion.
    EXPECT_EQ(cp::Utf8ToOem("a\xC3"), "a?");
    EXPECT_EQ(cp::Utf8ToOem("\xFF"
                            "b"),
              "?b");
}

TEST(Codepage, LineBreakCharacterIsDistinctAndSwitchable) {
    EXPECT_EQ(cp::OemToUtf8("\x14"), cp::OemLineBreak());
    EXPECT_FALSE(cp::SetOemCodePage("NO-SUCH-CODEPAGE"));
    EXPECT_EQ(cp::OemCodePage(), "CP850");
    ASSERT_TRUE(cp::SetOemCodePage("CP437"));
    EXPECT_EQ(cp::OemToUtf8("\xE1"), "ß");
    ASSERT_TRUE(cp::SetOemCodePage("CP850"));
}
