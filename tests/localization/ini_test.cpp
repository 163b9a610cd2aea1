#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "shell/utility/ini_file.h"
#include "shell/utility/ini_parser.h"
#include "tests/settings/temp_folder.h"

namespace {

using ini::FindValue;

std::string Find(std::string_view content, std::string_view section, std::string_view key) {
    return std::string(FindValue(content, section, key).value_or("<missing>"));
}

TEST(IniRules, NamesValuesAndBlanks) {
    const std::string text =
        "; a comment = not a key\n"
        "orphan=before any section\n"
        "[TrayMenu]\n"
        "301=Optionen ändern...\n"
        "  302  =   Über...   \n"
        "303==a=b\n"
        "304=\n"
        "305=\"  quoted  \"\n"
        "306='single'\n"
        "307=\"unbalanced'\n"
        "no equals sign here\n"
        "\t[ Shared ]\t\n"
        "101=first\n"
        "101=second\n"
        "[shared]\n"
        "102=in a second section of the same name\n";
    EXPECT_EQ(Find(text, "TrayMenu", "301"), "Optionen ändern...");
    EXPECT_EQ(Find(text, "traymenu", "302"), "Über...");     // names ignore case; blanks go
    EXPECT_EQ(Find(text, "TRAYMENU", "303"), "=a=b");        // value after the first '='
    EXPECT_EQ(Find(text, "TrayMenu", "304"), "");            // present and empty
    EXPECT_EQ(Find(text, "TrayMenu", "305"), "  quoted  ");  // one pair of quotes dropped
    EXPECT_EQ(Find(text, "TrayMenu", "306"), "single");
    EXPECT_EQ(Find(text, "TrayMenu", "307"), "\"unbalanced'");
    EXPECT_EQ(Find(text, "TrayMenu", "no equals sign here"), "<missing>");
    EXPECT_EQ(Find(text, "TrayMenu", "; a comment"), "<missing>");
    EXPECT_EQ(Find(text, "", "orphan"), "<missing>");
    EXPECT_EQ(Find(text, "Shared", "101"), "first");  // the first occurrence wins
    EXPECT_EQ(Find(text, "Shared", "102"), "in a second section of the same name");
    EXPECT_EQ(Find(text, "Shared", "301"), "<missing>");  // only its own section counts
    EXPECT_EQ(Find(text, "Missing", "301"), "<missing>");
}

TEST(IniRules, LineEndsMarksAndOddHeaders) {
    EXPECT_EQ(Find("\xEF\xBB\xBF[A]\r\nk=v\r\n", "A", "k"), "v");
    EXPECT_EQ(Find("[A]\rk=old mac\r", "A", "k"), "old mac");
    EXPECT_EQ(Find("[A] trailing ] text]\nk=v\n", "A] trailing ] text", "k"), "v");
    EXPECT_EQ(Find("[Unclosed\nk=v\x1a", "Unclosed", "k"), "v");
    for (const char* empty : {"", "[", "="}) {
        EXPECT_EQ(Find(empty, "", ""), "<missing>");
    }
}

TEST(IniRules, TextIsCappedWithoutCuttingACharacter) {
    EXPECT_EQ(ini::CapText(std::string(3000, 'x'), 2047).size(), 2047u);
    EXPECT_EQ(ini::CapText(std::string("ab\0cd", 5), 10), "ab");
    // "ü" is two bytes, "☃" three: a cut inside either drops the whole character.
    EXPECT_EQ(ini::CapText("aü", 2), "a");
    EXPECT_EQ(ini::CapText("a☃b", 3), "a");
    EXPECT_EQ(ini::CapText("a☃b", 4), "a☃");
    EXPECT_EQ(ini::CapText("\x80\x80\x80", 2), "\x80\x80");  // not UTF-8: cut where asked
}

TEST(IniFile, ReadsFilesWithDefaults) {
    TempConfigHome home;
    const auto path = home.root() / "test.lng";
    WriteFile(path, "[Info]\nLanguageName=Deutsch\nLong=" + std::string(5000, 'L') + "\n");
    const TlIniFile file(path);
    EXPECT_EQ(file.Read("info", "languagename", "<>"), "Deutsch");
    EXPECT_EQ(file.Read("Info", "Author", "nobody"), "nobody");
    EXPECT_EQ(file.Read("Info", "Long", ""), std::string(2047, 'L'));
    EXPECT_EQ(file.Read("Info", "Missing", std::string(3000, 'd')), std::string(2047, 'd'));
    // No path, no file, a folder, a FIFO (which must not wait for a writer): the default.
    const auto fifo = home.root() / "fifo.lng";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TlIniFile other;
    for (const std::filesystem::path& where : {home.root() / "absent.lng", home.root(), fifo}) {
        EXPECT_EQ(other.Read("Info", "LanguageName", "default"), "default");
        other.SetPath(where);
    }
    EXPECT_EQ(other.Read("Info", "LanguageName", "default"), "default");
}

}  // namespace
