#include "platform/registry/regedit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace platform::registry;

constexpr const char* kOptions =
    "HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options";
constexpr const char* kThing = "HKEY_CURRENT_USER\\Software\\Other Vendor\\Thing";

// A file as another program (or a person) might have left it.
const std::string kForeign =
    "REGEDIT4\n"
    "; written by hand\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Other Vendor\\Thing]\n"
    "\"Path\"=\"C:\\\\Program Files\\\\a \\\"b\\\"\"\n"
    "\"Flags\"=dword:0000ABCD\n"
    "@=\"default\"\n"
    "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\n"
    "  19,1a\n"
    "\"Expand\"=hex(2):25,00,41,00,00,00\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options]\n"
    "\"SoundEnabled\"=dword:00000001\n"
    "\"OemCodePage\"=\"CP437\"\n"
    "\n";

TEST(RegDocument, ReadsEveryFormAndKeepsWhatItDoesNotChange) {
    auto doc = RegDocument::Parse(kForeign);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->Serialize(), kForeign);
    EXPECT_EQ(doc->Query("hkey_current_user\\SOFTWARE\\other vendor\\thing", "path"),
              RegValue::Text("C:\\Program Files\\a \"b\""));
    EXPECT_EQ(doc->Query(kThing, "Flags"), RegValue::Dword(0xABCD));
    EXPECT_EQ(doc->Query(kThing, ""), RegValue::Text("default"));
    EXPECT_EQ(doc->Query(kThing, "Blob")->data.size(), 26u);
    EXPECT_EQ(doc->Query(kThing, "Expand"), (RegValue{kRegExpandSz, std::string("%\0A\0\0\0", 6)}));
    EXPECT_FALSE(doc->Query(kOptions, "Flags"));  // values belong to their own key
    EXPECT_TRUE(doc->HasKey("HKEY_CURRENT_USER\\Software\\Brannock\\"));
    EXPECT_FALSE(doc->HasKey("HKEY_CURRENT_USER\\Software\\Bran"));

    // Edits touch only their own lines; Windows line ends and a byte order mark stay.
    std::string crlf;
    for (char c : kForeign) {
        crlf += c == '\n' ? "\r\n" : std::string(1, c);
    }
    auto windows = RegDocument::Parse("\xEF\xBB\xBF" + crlf);
    ASSERT_TRUE(windows);
    ASSERT_TRUE(windows->Set(kOptions, "soundenabled", RegValue::Dword(0)));
    ASSERT_TRUE(windows->Set(kOptions, "SysLanguageFile", RegValue::Text("german.lng")));
    ASSERT_TRUE(windows->Remove(kOptions, "OEMCODEPAGE"));
    std::string expected = "\xEF\xBB\xBF" + crlf;
    const std::string old_lines =
        "\"SoundEnabled\"=dword:00000001\r\n\"OemCodePage\"=\"CP437\"\r\n";
    expected.replace(expected.find(old_lines), old_lines.size(),
                     "\"SoundEnabled\"=dword:00000000\r\n\"SysLanguageFile\"=\"german.lng\"\r\n");
    EXPECT_EQ(windows->Serialize(), expected);
}

TEST(RegDocument, DuplicatesAndKeysKnownOnlyThroughChildren) {
    auto doc = RegDocument::Parse(
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:1\n[HKEY_CURRENT_USER\\A\\B]\n"
        "[HKEY_CURRENT_USER\\a]\n\"X\"=dword:2\n");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->Query("HKEY_CURRENT_USER\\A", "x"), RegValue::Dword(2));  // the last line wins
    doc->Set("HKEY_CURRENT_USER\\A", "x", RegValue::Dword(3));  // and is the one changed
    EXPECT_EQ(doc->Query("HKEY_CURRENT_USER\\A", "x"), RegValue::Dword(3));
    EXPECT_TRUE(doc->Remove("HKEY_CURRENT_USER\\A", "x"));
    EXPECT_FALSE(doc->Query("HKEY_CURRENT_USER\\A", "x"));
    ASSERT_TRUE(doc->Set("HKEY_CURRENT_USER", "V", RegValue::Dword(1)));
    EXPECT_EQ(RegDocument::Parse(doc->Serialize())->Query("HKEY_CURRENT_USER", "v"),
              RegValue::Dword(1));
    // Names and keys that a line cannot hold are refused rather than written wrongly.
    EXPECT_FALSE(doc->Set(kOptions, "line\nbreak", RegValue::Dword(1)));
    for (const char* key : {"HKEY_CURRENT_USER\\a\nb", "HKEY_CURRENT_USER\\\\double",
                            "-HKEY_CURRENT_USER\\x", " HKEY_CURRENT_USER\\x"}) {
        EXPECT_FALSE(doc->CreateKey(key)) << key;
    }
    EXPECT_FALSE(RegDocument::Parse("  \r\n")->HasKey("HKEY_CURRENT_USER"));
}

// One line that is not REGEDIT4 costs that line only: the rest is read, and what is read writes
// back to a file that reads whole.
TEST(RegDocument, SalvageLeavesOutOnlyWhatCannotBeRead) {
    const std::string head = "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"before\"=dword:1\n";
    const std::string tail = "\"after\"=\"kept\"\n[HKEY_CURRENT_USER\\B]\n\"other\"=dword:2\n";
    const std::pair<std::string, std::size_t> bad[] = {
        {"junk\n", 1},
        {"\"x\"=-\n", 1},                // deletion
        {"\"x\"=\"open\n", 1},           // open quote
        {"\"x\"=\"a\" trailing\n", 1},   // text after the quote
        {"\"x\"=dword:123456789\n", 1},  // nine digits
        {"\"x\"=dword:12g4\n", 1},       // not hex
        {"\"x\"=hex:01,\\\n  0g\n", 2},  // a bad continued value goes whole
        {"\"x\\\"=\"a\"\n", 1},          // escaped closing quote
        {"\"x\"\n", 1},                  // no '='
        // A bad key takes its values along.
        {"[HKEY_CURRENT_USER\\C\n\"lost\"=dword:3\n[HKEY_CURRENT_USER\\A]\n", 2},
        {"[-HKEY_CURRENT_USER\\C]\n\"lost\"=dword:3\n[HKEY_CURRENT_USER\\A]\n", 2},
    };
    for (const auto& [line, count] : bad) {
        const std::string text = head + line + tail;
        EXPECT_FALSE(RegDocument::Parse(text)) << line;
        std::size_t unreadable = 0;
        const RegDocument doc = RegDocument::Salvage(text, unreadable);
        EXPECT_EQ(unreadable, count) << line;
        EXPECT_EQ(doc.Query("HKEY_CURRENT_USER\\A", "before"), RegValue::Dword(1)) << line;
        const auto again = RegDocument::Parse(doc.Serialize());
        ASSERT_TRUE(again) << line;
        EXPECT_EQ(again->Query("HKEY_CURRENT_USER\\A", "after"), RegValue::Text("kept")) << line;
        EXPECT_EQ(again->Query("HKEY_CURRENT_USER\\B", "other"), RegValue::Dword(2)) << line;
        EXPECT_FALSE(again->Query("HKEY_CURRENT_USER\\C", "lost")) << line;
    }
    // No header, or another format's: read as if it were REGEDIT4.
    for (const char* first : {"", "Windows Registry Editor Version 5.00\n"}) {
        std::size_t unreadable = 0;
        const RegDocument doc =
            RegDocument::Salvage(std::string(first) + head.substr(9) + tail, unreadable);
        EXPECT_EQ(unreadable, 1u);
        EXPECT_EQ(RegDocument::Parse(doc.Serialize())->Query("HKEY_CURRENT_USER\\A", "after"),
                  RegValue::Text("kept"));
    }
}

}  // namespace
