#include "platform/registry/regedit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::registry::kRegBinary;
using platform::registry::kRegDword;
using platform::registry::kRegExpandSz;
using platform::registry::kRegSz;
using platform::registry::RegDocument;
using platform::registry::RegValue;

constexpr const char* kOptions =
    "HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options";

// A file as another program (or a person) might have left it.
const std::string kForeign =
    "REGEDIT4\n"
    "; written by hand\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Other Vendor\\Thing]\n"
    "\"Path\"=\"C:\\\\Program Files\\\\Thing\\\\a \\\"b\\\"\"\n"
    "\"Flags\"=dword:0000ABCD\n"
    "@=\"default\"\n"
    "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\n"
    "  19,1a\n"
    "\"Expand\"=hex(2):25,00,41,00,00,00\n"
    "\n"
    "; options follow\n"
    "[HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options]\n"
    "\"SoundEnabled\"=dword:00000001\n"
    "\"OemCodePage\"=\"CP437\"\n"
    "\n";

TEST(RegDocument, KeepsWhatItDoesNotChangeByteForByte) {
    auto doc = RegDocument::Parse(kForeign);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->Serialize(), kForeign);

    // Windows line ends and a byte order mark stay as they were.
    std::string crlf;
    for (char c : kForeign) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    auto windows = RegDocument::Parse("\xEF\xBB\xBF" + crlf);
    ASSERT_TRUE(windows);
    EXPECT_EQ(windows->Serialize(), "\xEF\xBB\xBF" + crlf);
    windows->Set(kOptions, "SoundEnabled", RegValue::Dword(0));
    EXPECT_NE(windows->Serialize().find("\"SoundEnabled\"=dword:00000000\r\n"), std::string::npos);
}

TEST(RegDocument, ReadsEveryValueForm) {
    auto doc = RegDocument::Parse(kForeign);
    ASSERT_TRUE(doc);
    const std::string thing = "hkey_current_user\\SOFTWARE\\other vendor\\thing";
    EXPECT_EQ(doc->Query(thing, "path"), RegValue::Text("C:\\Program Files\\Thing\\a \"b\""));
    EXPECT_EQ(doc->Query(thing, "Flags"), RegValue::Dword(0xABCD));
    EXPECT_EQ(doc->Query(thing, ""), RegValue::Text("default"));
    const auto blob = doc->Query(thing, "Blob");
    ASSERT_TRUE(blob);
    EXPECT_EQ(blob->type, kRegBinary);
    ASSERT_EQ(blob->data.size(), 26u);
    EXPECT_EQ(blob->data[25], '\x1a');
    EXPECT_EQ(doc->Query(thing, "Expand"), (RegValue{kRegExpandSz, std::string("%\0A\0\0\0", 6)}));
    EXPECT_FALSE(doc->Query(thing, "Missing"));
    EXPECT_FALSE(doc->Query(kOptions, "Flags"));  // values belong to their own key
}

TEST(RegDocument, KeysExistThroughTheirChildren) {
    auto doc = RegDocument::Parse(kForeign);
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->HasKey("HKEY_CURRENT_USER\\Software"));
    EXPECT_TRUE(doc->HasKey("HKEY_CURRENT_USER\\Software\\Brannock\\"));
    EXPECT_FALSE(doc->HasKey("HKEY_CURRENT_USER\\Software\\Bran"));
    EXPECT_FALSE(
        doc->HasKey("HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options\\X"));
    // A value under a key known only through its children gets a block of its own.
    ASSERT_TRUE(doc->Set("HKEY_CURRENT_USER\\Software\\Brannock", "V", RegValue::Dword(1)));
    EXPECT_EQ(doc->Query("HKEY_CURRENT_USER\\Software\\Brannock", "v"), RegValue::Dword(1));
    auto again = RegDocument::Parse(doc->Serialize());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Query("HKEY_CURRENT_USER\\Software\\Brannock", "V"), RegValue::Dword(1));
}

TEST(RegDocument, EditsTouchOnlyTheirOwnLines) {
    auto doc = RegDocument::Parse(kForeign);
    ASSERT_TRUE(doc);
    ASSERT_TRUE(doc->Set(kOptions, "soundenabled", RegValue::Dword(0)));
    ASSERT_TRUE(doc->Set(kOptions, "SysLanguageFile", RegValue::Text("deutsch.lng")));
    ASSERT_TRUE(doc->Remove(kOptions, "OEMCODEPAGE"));
    EXPECT_FALSE(doc->Remove(kOptions, "OemCodePage"));
    ASSERT_TRUE(doc->CreateKey("HKEY_CURRENT_USER\\Software\\New"));

    std::string expected = kForeign;
    expected.replace(
        expected.find("\"SoundEnabled\"=dword:00000001\n\"OemCodePage\"=\"CP437\"\n"),
        std::string("\"SoundEnabled\"=dword:00000001\n\"OemCodePage\"=\"CP437\"\n").size(),
        "\"SoundEnabled\"=dword:00000000\n\"SysLanguageFile\"=\"deutsch.lng\"\n");
    expected += "[HKEY_CURRENT_USER\\Software\\New]\n";
    EXPECT_EQ(doc->Serialize(), expected);
}

TEST(RegDocument, DuplicatesReadLastAndAreAllRemoved) {
    auto doc = RegDocument::Parse(
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:1\n[HKEY_CURRENT_USER\\B]\n"
        "[HKEY_CURRENT_USER\\a]\n\"X\"=dword:2\n");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->Query("HKEY_CURRENT_USER\\A", "x"), RegValue::Dword(2));
    doc->Set("HKEY_CURRENT_USER\\A", "x", RegValue::Dword(3));  // changes the line that wins
    EXPECT_EQ(doc->Query("HKEY_CURRENT_USER\\A", "x"), RegValue::Dword(3));
    EXPECT_TRUE(doc->Remove("HKEY_CURRENT_USER\\A", "x"));
    EXPECT_FALSE(doc->Query("HKEY_CURRENT_USER\\A", "x"));
}

TEST(RegDocument, AnyTextSurvivesTheFile) {
    RegDocument doc;
    const std::string texts[] = {
        "",
        "plain",
        "quote \" and backslash \\ and ]",
        "two\r\nlines",
        std::string("zero\0inside", 11),
        "tab\there",
        "UTF-8: Grüße, ☃",
    };
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        ASSERT_TRUE(doc.Set(kOptions, "v" + std::to_string(i), RegValue::Text(texts[i])));
    }
    ASSERT_TRUE(doc.Set(kOptions, "weird \"name\" \\ ;", RegValue::Dword(0xFFFFFFFF)));
    auto back = RegDocument::Parse(doc.Serialize());
    ASSERT_TRUE(back) << doc.Serialize();
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        EXPECT_EQ(back->Query(kOptions, "v" + std::to_string(i)), RegValue::Text(texts[i])) << i;
    }
    EXPECT_EQ(back->Query(kOptions, "weird \"name\" \\ ;"), RegValue::Dword(0xFFFFFFFF));

    // Names and keys that a line cannot hold are refused rather than written wrongly.
    EXPECT_FALSE(doc.Set(kOptions, "line\nbreak", RegValue::Dword(1)));
    EXPECT_FALSE(doc.CreateKey("HKEY_CURRENT_USER\\a\nb"));
    EXPECT_FALSE(doc.CreateKey("HKEY_CURRENT_USER\\\\double"));
    EXPECT_FALSE(doc.CreateKey("-HKEY_CURRENT_USER\\x"));
    EXPECT_FALSE(doc.CreateKey(" HKEY_CURRENT_USER\\x"));
}

TEST(RegDocument, EmptyContentIsAnEmptyRegistry) {
    for (const char* text : {"", "\n\n", "  \r\n"}) {
        auto doc = RegDocument::Parse(text);
        ASSERT_TRUE(doc) << text;
        EXPECT_FALSE(doc->HasKey("HKEY_CURRENT_USER\\Software"));
    }
    RegDocument doc;
    doc.CreateKey("HKEY_CURRENT_USER\\A");
    EXPECT_EQ(doc.Serialize(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n");
}

TEST(RegDocument, RefusesWhatIsNotARegistryFile) {
    const char* bad[] = {
        "[HKEY_CURRENT_USER\\A]\n",                                   // no header
        "Windows Registry Editor Version 5.00\n",                     // another format
        "REGEDIT4\n\"x\"=dword:1\n",                                  // value outside a key
        "REGEDIT4\n[HKEY_CURRENT_USER\\A\n",                          // open bracket
        "REGEDIT4\n[-HKEY_CURRENT_USER\\A]\n",                        // deletion
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=-\n",                // deletion
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\njunk\n",                   // unknown line
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"open\n",           // open quote
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"a\" trailing\n",   // text after the quote
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:123456789\n",  // nine digits
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:12g4\n",       // not hex
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex:1,,2\n",         // empty byte
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex:01,\\\n",        // continuation at the end
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\\\"=\"a\"\n",          // escaped closing quote
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"\n",                  // no '='
    };
    for (const char* text : bad) {
        EXPECT_FALSE(RegDocument::Parse(text)) << text;
    }
}

}  // namespace
