#include "shell/localization/localization.h"

#include <charconv>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "resources/strings/builtin_strings.h"
#include "shell/localization/language_files.h"
#include "shell/utility/ini_file.h"
#include "shell/utility/program_folder.h"

namespace {

using StringMap = std::unordered_map<int, LocStrInfo>;

StringMap BuiltinMap() {
    StringMap map;
    for (const strings::BuiltinString& row : strings::BuiltinStrings()) {
        map[row.id] = LocStrInfo{std::string(row.text), std::string(row.section)};
    }
    return map;
}

// Filled once at start-up; the lock only keeps a late reader on another thread safe.
struct Table {
    std::shared_mutex lock;
    StringMap map = BuiltinMap();
};

Table& TheTable() {
    static Table table;
    return table;
}

std::string DecimalId(int id) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, id);
    return std::string(digits, result.ptr);
}

}  // namespace

void LoadLocalization(std::string_view language_file, const std::filesystem::path& program_folder) {
    StringMap map = BuiltinMap();
    const std::filesystem::path path =
        FindLanguageFile(language_file, LanguageFolders(program_folder));
    if (!path.empty()) {
        const TlIniFile file(path);
        // Read once: every key comes from the same text.
        const std::string content = file.LoadContent();
        for (auto& [id, entry] : map) {
            entry.text = TlIniFile::ReadFrom(content, entry.section, DecimalId(id), entry.text);
        }
    }
    Table& table = TheTable();
    std::unique_lock guard(table.lock);
    table.map = std::move(map);
}

void LoadLocalization(std::string_view language_file) {
    LoadLocalization(language_file, GetProgramFolder());
}

void LoadLocalization(const SettingsMap& settings) {
    LoadLocalization(SettingText(settings, kSettingLanguageFile));
}

std::string LoadLocString(int id) {
    Table& table = TheTable();
    std::shared_lock guard(table.lock);
    const auto found = table.map.find(id);
    return found == table.map.end() ? std::string() : found->second.text;
}
