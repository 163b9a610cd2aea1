// The language files shipped with the program: each names its language, translates every text
// of the program in the section where the program looks for it, and keeps the placeholders of
// the texts that have them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "resources/strings/builtin_strings.h"
#include "shell/localization/language_files.h"
#include "shell/localization/localization.h"
#include "shell/utility/ini_file.h"
#include "shell/utility/ini_parser.h"

namespace {

const std::filesystem::path kLanguageDir = TOLVANE_LANGUAGE_DIR;

std::vector<std::filesystem::path> ShippedFiles() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(kLanguageDir)) {
        if (entry.path().extension() == ".lng") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::size_t Count(std::string_view text, std::string_view part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos;
         at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80         ? 1
                                   : (c >> 5) == 6  ? 2
                                   : (c >> 4) == 14 ? 3
                                   : (c >> 3) == 30 ? 4
                                                    : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace

TEST(ShippedLanguages, AtLeastGermanAndFrenchAreListedWithTheirDetails) {
    ASSERT_GE(ShippedFiles().size(), 2u);
    const std::vector<LangFileInfo> listed = ListLanguageFiles(kLanguageDir.parent_path());
    std::set<std::string> names;
    for (const LangFileInfo& info : listed) {
        names.insert(info.language_name);
        EXPECT_FALSE(info.author.empty()) << info.file_name;
        EXPECT_EQ(info.product_version, "2.0") << info.file_name;
        EXPECT_EQ(info.file_name.find('/'), std::string::npos);
    }
    EXPECT_TRUE(names.count("Deutsch"));
    EXPECT_TRUE(names.count("Français"));
    EXPECT_FALSE(names.count("<>"));
}

TEST(ShippedLanguages, EveryTextIsTranslatedInItsOwnSection) {
    for (const auto& path : ShippedFiles()) {
        SCOPED_TRACE(path.filename().string());
        const std::string content = TlIniFile(path).LoadContent();
        EXPECT_TRUE(IsValidUtf8(content));
        int translated = 0;
        for (const strings::BuiltinString& row : strings::BuiltinStrings()) {
            const auto value = ini::FindValue(content, row.section, std::to_string(row.id));
            ASSERT_TRUE(value.has_value()) << row.id;
            EXPECT_FALSE(value->empty()) << row.id;
            // A placeholder lost or added would show the wrong parts of a message.
            EXPECT_EQ(Count(*value, "%s"), Count(row.text, "%s")) << row.id;
            EXPECT_EQ(Count(*value, "%"), Count(row.text, "%")) << row.id;
            translated += *value != row.text ? 1 : 0;
        }
        // Names such as "OK" and the product's stay; most texts change.
        EXPECT_GT(translated, 35);
    }
}

TEST(ShippedLanguages, LoadingOneReplacesTheBuiltInTexts) {
    LoadLocalization("german.lng", kLanguageDir.parent_path());
    EXPECT_EQ(LoadLocString(strings::kOptionsGeneral), "Allgemein");
    EXPECT_EQ(LoadLocString(strings::kWroteTo), "%s schrieb an %s:");
    LoadLocalization("french.lng", kLanguageDir.parent_path());
    EXPECT_EQ(LoadLocString(strings::kExit), "Quitter Tolvane");
    LoadLocalization("", kLanguageDir.parent_path());
    EXPECT_EQ(LoadLocString(strings::kExit), "Exit Tolvane");
}
