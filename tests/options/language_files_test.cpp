// The language files shipped with the program: each names its language and translates every
// text in the section where the program looks for it, keeping the placeholders.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>

#include "platform/system/version.h"
#include "resources/strings/builtin_strings.h"
#include "shell/localization/language_files.h"
#include "shell/utility/ini_file.h"
#include "shell/utility/ini_parser.h"

namespace {

const std::filesystem::path kProgramFolder =
    std::filesystem::path(TOLVANE_LANGUAGE_DIR).parent_path();

std::size_t Count(std::string_view text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

// A text that names the product with a number ("Tolvane Corvessan 2.0") names this build's version.
void ExpectThisVersion(std::string_view text) {
    static const std::regex kNumbered("Corvessan (Version )?([0-9][0-9.]*)");
    const std::string copy(text);
    for (std::sregex_iterator it(copy.begin(), copy.end(), kNumbered), end; it != end; ++it) {
        EXPECT_EQ((*it)[2].str(), kTolvaneVersion) << copy;
    }
}

}  // namespace

TEST(ShippedLanguages, EveryTextIsTranslatedInItsOwnSection) {
    const std::vector<LangFileInfo> files = ListLanguageFiles(kProgramFolder);
    std::set<std::string> names;
    for (const LangFileInfo& info : files) {
        SCOPED_TRACE(info.file_name);
        names.insert(info.language_name);
        EXPECT_FALSE(info.author.empty());
        EXPECT_EQ(info.product_version, kTolvaneVersion);
        const std::string content =
            TlIniFile(kProgramFolder / "language" / info.file_name).LoadContent();
        int translated = 0;
        for (const strings::BuiltinString& row : strings::BuiltinStrings()) {
            const auto value = ini::FindValue(content, row.section, std::to_string(row.id));
            ASSERT_TRUE(value.has_value()) << row.id;
            EXPECT_FALSE(value->empty()) << row.id;
            ExpectThisVersion(row.text);
            ExpectThisVersion(*value);
            // A placeholder lost or added would show the wrong parts of a message.
            EXPECT_EQ(Count(*value, '%'), Count(row.text, '%')) << row.id;
            translated += *value != row.text ? 1 : 0;
        }
        EXPECT_GT(translated, 35);  // names such as "OK" and the product's stay
    }
    EXPECT_TRUE(names.count("Deutsch") && names.count("Français"));
    EXPECT_FALSE(names.count("<>"));
}
