#include "shell/localization/localization.h"

#include <gtest/gtest.h>

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

TEST_F(Localization, OnlyAFileOfTheLanguageFolderIsRead) {
    Language("deutsch.lng", "[TrayMenu]\n303=Beenden\n");
    WriteFile(home.root() / "elsewhere.lng", "[TrayMenu]\n303=Outside\n");
    // No file, a missing one, names with a folder part, an unknown program folder, a number for
    // a name: the built-in texts.
    for (const char* name : {"", "missing.lng", "../elsewhere.lng", ".."}) {
        LoadLocalization(name, home.root());
        ExpectAllBuiltinExcept();
    }
    LoadLocalization("deutsch.lng", "");
    ExpectAllBuiltinExcept();
    LoadLocalization(SettingsMap{{kSettingLanguageFile, TlVariant(0)}});
    ExpectAllBuiltinExcept();
    EXPECT_EQ(LoadLocString(999), "");
}

TEST_F(Localization, EachKeyCountsInItsOwnSection) {
    Language("mixed.lng",
             "\xEF\xBB\xBF[Shared]\r\n303=wrong section\r\n[traymenu]\r\n 302 = Über \r\n301=\r\n"
             "[PopupForm]\r\n201=Получено сообщений\r\n205=%s schrieb an %s:\r\n"
             "[OptionsPageRecv]\r\n906=" +
                 std::string(2046, 's') + "ß\r\n");
    LoadLocalization("mixed.lng", home.root());
    EXPECT_EQ(LoadLocString(302), "Über");
    EXPECT_EQ(LoadLocString(301), "");  // an empty value empties the text
    EXPECT_EQ(LoadLocString(201), "Получено сообщений");
    EXPECT_EQ(LoadLocString(205), "%s schrieb an %s:");
    // 2046 + 2 bytes exceed the cap: the cut falls inside "ß", which goes whole.
    EXPECT_EQ(LoadLocString(906), std::string(2046, 's'));
    ExpectAllBuiltinExcept({201, 205, 301, 302, 906});
    // Loading again starts from the built-in texts.
    LoadLocalization("", home.root());
    EXPECT_EQ(LoadLocString(302), "About...");
}

TEST_F(Localization, FilesBesideTheProgramHideInstalledOnes) {
    const fs::path beside = home.root() / "language", installed = home.root() / "installed";
    EXPECT_EQ(LanguageFolders(home.root()).front(), beside);
    for (const fs::path& folder : LanguageFolders("")) {
        EXPECT_TRUE(folder.is_absolute()) << folder;  // nothing relative to the working folder
    }
    Language("deutsch.lng", "[Info]\nLanguageName=Beside\n");
    WriteFile(installed / "deutsch.lng", "[Info]\nLanguageName=Installed\n");
    WriteFile(installed / "e.lng", "");
    EXPECT_EQ(FindLanguageFile("deutsch.lng", {beside, installed}), beside / "deutsch.lng");
    EXPECT_EQ(FindLanguageFile("e.lng", {beside, installed}), installed / "e.lng");
    const auto files = ListLanguageFiles({beside, installed});
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].language_name, "Beside");
    EXPECT_EQ(files[1].file_name, "e.lng");
}

}  // namespace
