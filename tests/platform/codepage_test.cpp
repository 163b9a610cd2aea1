#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/codepage/codepage.h"

namespace cp = platform::codepage;

TEST(Codepage, EveryOemByteRoundTripsAndUnmappableBecomesQuestionMark) {
    EXPECT_EQ(cp::OemToUtf8("\x84\x94\x81\r\n"), "äöü\r\n");
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    EXPECT_EQ(cp::Utf8ToOem(cp::OemToUtf8(all)), all);
    EXPECT_EQ(cp::Utf8ToOem("日本"), "??");
    // Malformed UTF-8 costs one '?' per bad byte and never stops the conversion.
    EXPECT_EQ(cp::Utf8ToOem("a\xC3"), "a?");
    EXPECT_EQ(cp::Utf8ToOem("\xFF"
                            "b"),
              "?b");
    EXPECT_EQ(cp::OemToUtf8("\x14"), cp::OemLineBreak());
}

// Names are written as smbclient writes them (checked against its session requests, CP850):
// the same in every locale the process may have chosen.
TEST(Codepage, NetbiosNamesAreUpperCaseOemAsSendersWriteThem) {
    for (const char* locale : {"C", "C.UTF-8"}) {
        std::setlocale(LC_ALL, locale);
        EXPECT_EQ(cp::NetbiosName("jürgen"), "J\x9aRGEN") << locale;
        EXPECT_EQ(cp::NetbiosName("JÜRGEN"), "J\x9aRGEN") << locale;
        EXPECT_EQ(cp::NetbiosName("ñandú çé"),
                  "\xa5"
                  "AND\xe9 \x80\x90");
        // No upper case that would not lead back: ß, ı and µ stay.
        EXPECT_EQ(cp::NetbiosName("straße ıi µ"),
                  "STRA\xe1"
                  "E \xd5I \xe6");
        EXPECT_EQ(cp::NetbiosName("verylongusername16"), "VERYLONGUSERNAM");
    }
    std::setlocale(LC_ALL, "C");
    // What the code page lacks: its closest form, or no name at all rather than '?'.
    EXPECT_EQ(cp::NetbiosName("łukasz"), "LUKASZ");
    EXPECT_EQ(cp::NetbiosName("Œuvre"), "OEUVRE");
    EXPECT_EQ(cp::NetbiosName("ωmega"), std::nullopt);
    EXPECT_EQ(cp::NetbiosName("张伟"), std::nullopt);
    EXPECT_EQ(cp::NetbiosName(""), std::nullopt);
    EXPECT_EQ(cp::NetbiosName("abcdefghijklmnoω"), "ABCDEFGHIJKLMNO") << "past 15 bytes";

    EXPECT_FALSE(cp::SetOemCodePage("NO-SUCH-CODEPAGE"));
    ASSERT_TRUE(cp::SetOemCodePage("CP866"));
    EXPECT_EQ(cp::NetbiosName("ωmega"), std::nullopt);
    EXPECT_EQ(cp::NetbiosName("иван"), "\x88\x82\x80\x8d");
    ASSERT_TRUE(cp::SetOemCodePage("CP850"));
}
