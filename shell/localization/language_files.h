#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// What the options show about one language file: from its section "Info", the keys
// "ProductVersion", "Author" and "LanguageName" ("<>" when missing), and its file name.
struct LangFileInfo {
    std::string product_version;
    std::string author;
    std::string language_name;
    std::string file_name;  // name and extension, no folder
};

// The folders where language files are looked for, in this order: "language" beside the program
// (left out when the program's folder is unknown), then the language folder installed with the
// program's data.
std::vector<std::filesystem::path> LanguageFolders(const std::filesystem::path& program_folder);

// The language file called file_name in the first of folders that holds it; empty when none does
// or when the name is not a plain file name (one with a folder part could point elsewhere).
std::filesystem::path FindLanguageFile(std::string_view file_name,
                                       const std::vector<std::filesystem::path>& folders);

// The "*.lng" files (extension in any case) of the folders, in file-name order; a file in an
// earlier folder hides one of the same name in a later folder, as FindLanguageFile picks it.
// Missing folders are skipped. At most kMaxLanguageFiles are listed.
inline constexpr std::size_t kMaxLanguageFiles = 1000;
std::vector<LangFileInfo> ListLanguageFiles(const std::vector<std::filesystem::path>& folders);
// The same for LanguageFolders(program_folder).
std::vector<LangFileInfo> ListLanguageFiles(const std::filesystem::path& program_folder);
