#pragma once

#include <filesystem>
#include <string>
#include <vector>

// What the options show about one language file: from its section "Info", the keys
// "ProductVersion", "Author" and "LanguageName" ("<>" when missing), and its file name.
struct LangFileInfo {
    std::string product_version;
    std::string author;
    std::string language_name;
    std::string file_name;  // name and extension, no folder
};

// The "*.lng" files (extension in any case) of program_folder/language, in file-name order; empty
// when there is no such folder. At most kMaxLanguageFiles are listed.
inline constexpr std::size_t kMaxLanguageFiles = 1000;
std::vector<LangFileInfo> ListLanguageFiles(const std::filesystem::path& program_folder);
