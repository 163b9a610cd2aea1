#include "shell/localization/localization.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "resources/strings/builtin_strings.h"
#include "shell/localization/language_files.h"
#include "tests/settings/temp_folder.h"

namespace {

namespace fs = std::filesystem;

class Localization : public ::testing::Test {
  protected:
    void TearDown() override { LoadLocalization(""); }

    void Language(std::string_view name, std::string_view content) {
        WriteFile(home.root() / "language" / std::string(name), content);
    }
    void ExpectAllBuiltinExcept(std::set<int> changed = {}) {
        for (const auto& row : strings::BuiltinStrings()) {
            if (!changed.count(row.id)) {
                EXPECT_EQ(LoadLocString(row.id), row.text) << row.id;
            }
        }
    }

    TempConfigHome home;
};

TEST(BuiltinStrings, TextsWithUniqueIdsGroupedBySection) {
    const auto table = strings::BuiltinStrings();
    ASSERT_EQ(table.size(), 47u);
    std::set<int> ids;
    std::map<int, std::string_view> section_of_group;
    for (const auto& row : table) {
        EXPECT_TRUE(ids.insert(row.id).second) << row.id;
        // Ids are grouped by hundreds, one section per group.
        const auto [it, added] = section_of_group.emplace(row.id / 100, row.section);
        EXPECT_EQ(it->second, row.section) << row.id;
    }
    EXPECT_EQ(section_of_group.size(), 10u);
    EXPECT_EQ(LoadLocString(strings::kWroteTo), "%s wrote to %s:");
    EXPECT_EQ(LoadLocString(strings::kSysRestartNote),
              "Note: restart Tolvane for language change to take effect");
    EXPECT_EQ(LoadLocString(999), "");
    EXPECT_EQ(LoadLocString(0), "");
}

TEST_F(Localization, NoFileOrAMissingFileKeepsTheBuiltinTexts) {
    Language("deutsch.lng", "[TrayMenu]\n303=Beenden\n");
    LoadLocalization("", home.root());
    ExpectAllBuiltinExcept();
    LoadLocalization("missing.lng", home.root());
    ExpectAllBuiltinExcept();
    // A language folder of its own only: names with a folder part are not followed.
    WriteFile(home.root() / "elsewhere.lng", "[TrayMenu]\n303=Outside\n");
    LoadLocalization("../elsewhere.lng", home.root());
    ExpectAllBuiltinExcept();
    LoadLocalization("..", home.root());
    ExpectAllBuiltinExcept();
    LoadLocalization("deutsch.lng", "");  // unknown program folder
    ExpectAllBuiltinExcept();
}

TEST_F(Localization, OnlyTheTranslatedKeyChanges) {
    Language("deutsch.lng", "[Info]\nLanguageName=Deutsch\n[TrayMenu]\n303=Tolvane beenden\n");
    LoadLocalization("deutsch.lng", home.root());
    EXPECT_EQ(LoadLocString(303), "Tolvane beenden");
    ExpectAllBuiltinExcept({303});
    // Loading again starts from the built-in texts.
    LoadLocalization("", home.root());
    EXPECT_EQ(LoadLocString(303), "Exit Tolvane");
}

TEST_F(Localization, KeysCountOnlyInTheirOwnSection) {
    Language("wrong.lng", "[Shared]\n303=Beenden\n[traymenu]\n 302 = Über \n");
    LoadLocalization("wrong.lng", home.root());
    EXPECT_EQ(LoadLocString(303), "Exit Tolvane");
    EXPECT_EQ(LoadLocString(302), "Über");
    ExpectAllBuiltinExcept({302});
}

TEST_F(Localization, EmptyValuesEmptyTheText) {
    Language("empty.lng", "[TrayMenu]\n301=\n");
    LoadLocalization("empty.lng", home.root());
    EXPECT_EQ(LoadLocString(301), "");
    ExpectAllBuiltinExcept({301});
}

TEST_F(Localization, Utf8FilesAndLongValues) {
    Language("mixed.lng",
             "\xEF\xBB\xBF[PopupForm]\r\n"
             "201=Получено сообщений\r\n"
             "205=%s schrieb an %s:\r\n"
             "[OptionsPageRecv]\r\n"
             "906=" +
                 std::string(2046, 's') + "ß\r\n");
    LoadLocalization("mixed.lng", home.root());
    EXPECT_EQ(LoadLocString(201), "Получено сообщений");
    EXPECT_EQ(LoadLocString(205), "%s schrieb an %s:");
    // 2046 + 2 bytes exceed the cap: the cut falls inside "ß", which goes whole.
    EXPECT_EQ(LoadLocString(906), std::string(2046, 's'));
}

TEST_F(Localization, TheSettingNamesTheFile) {
    Language("x.lng", "[TrayTip]\n401=Tip\n");
    // The settings' overload looks beside the running program, which has no such file.
    SettingsMap settings{{kSettingLanguageFile, TlVariant("x.lng")}};
    LoadLocalization(settings);
    EXPECT_EQ(LoadLocString(401), "Tolvane Corvessan 2.0");
    settings[kSettingLanguageFile] = TlVariant(0);  // a number is no file name
    LoadLocalization(settings);
    EXPECT_EQ(LoadLocString(401), "Tolvane Corvessan 2.0");
}

TEST_F(Localization, LanguageFilesAreListedWithTheirInfo) {
    EXPECT_TRUE(ListLanguageFiles(home.root()).empty());  // no folder
    Language("deutsch.lng", "[Info]\nLanguageName=Deutsch\nAuthor=A. Autor\nProductVersion=2.0\n");
    Language("B.LNG", "[TrayMenu]\n303=x\n");
    Language("c.lng", "[info]\nlanguagename=Deutsch\n");
    Language("notes.txt", "[Info]\nLanguageName=No\n");
    fs::create_directories(home.root() / "language" / "folder.lng");
    const auto files = ListLanguageFiles(home.root());
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].file_name, "B.LNG");
    EXPECT_EQ(files[0].language_name, "<>");
    EXPECT_EQ(files[0].author, "");
    EXPECT_EQ(files[1].file_name, "c.lng");
    EXPECT_EQ(files[1].language_name, "Deutsch");
    EXPECT_EQ(files[2].file_name, "deutsch.lng");
    EXPECT_EQ(files[2].author, "A. Autor");
    EXPECT_EQ(files[2].product_version, "2.0");
}

}  // namespace
