#include "shell/localization/language_files.h"

#include <algorithm>
#include <map>

#include "shell/utility/ini_file.h"

namespace {

bool HasLngExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return ext == ".lng";
}

bool IsPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

}  // namespace

std::vector<std::filesystem::path> LanguageFolders(const std::filesystem::path& program_folder) {
    std::vector<std::filesystem::path> folders;
    if (!program_folder.empty()) {
        folders.push_back(program_folder / "language");
    }
#ifdef TOLVANE_INSTALLED_LANGUAGE_DIR
    const std::filesystem::path installed(TOLVANE_INSTALLED_LANGUAGE_DIR);
    // A program run from where it is installed would otherwise see each file twice.
    if (folders.empty() || folders.front().lexically_normal() != installed.lexically_normal()) {
        folders.push_back(installed);
    }
#endif
    return folders;
}

std::filesystem::path FindLanguageFile(std::string_view file_name,
                                       const std::vector<std::filesystem::path>& folders) {
    if (!IsPlainFileName(file_name)) {
        return {};
    }
    for (const auto& folder : folders) {
        std::filesystem::path path = folder / std::string(file_name);
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) {
            return path;
        }
    }
    return {};
}

std::vector<LangFileInfo> ListLanguageFiles(const std::vector<std::filesystem::path>& folders) {
    std::map<std::string, std::filesystem::path> found;  // by file name, the first folder's
    for (const auto& folder : folders) {
        std::error_code ec;
        std::filesystem::directory_iterator it(folder, ec);
        for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            if (found.size() >= kMaxLanguageFiles) {
                break;
            }
            std::error_code type_ec;
            if (it->is_regular_file(type_ec) && HasLngExtension(it->path())) {
                found.emplace(it->path().filename().string(), it->path());
            }
        }
    }
    std::vector<LangFileInfo> files;
    for (const auto& [name, path] : found) {
        const std::string content = TlIniFile(path).LoadContent();
        files.push_back(LangFileInfo{TlIniFile::ReadFrom(content, "Info", "ProductVersion", ""),
                                     TlIniFile::ReadFrom(content, "Info", "Author", ""),
                                     TlIniFile::ReadFrom(content, "Info", "LanguageName", "<>"),
                                     name});
    }
    return files;
}

std::vector<LangFileInfo> ListLanguageFiles(const std::filesystem::path& program_folder) {
    return ListLanguageFiles(LanguageFolders(program_folder));
}
