#include "shell/localization/language_files.h"

#include <algorithm>

#include "shell/utility/ini_file.h"

namespace {

bool HasLngExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return ext == ".lng";
}

}  // namespace

std::vector<LangFileInfo> ListLanguageFiles(const std::filesystem::path& program_folder) {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    std::filesystem::directory_iterator it(program_folder / "language", ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (found.size() >= kMaxLanguageFiles) {
            break;
        }
        std::error_code type_ec;
        if (it->is_regular_file(type_ec) && HasLngExtension(it->path())) {
            found.push_back(it->path());
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<LangFileInfo> files;
    for (const auto& path : found) {
        const std::string content = TlIniFile(path).LoadContent();
        files.push_back(LangFileInfo{TlIniFile::ReadFrom(content, "Info", "ProductVersion", ""),
                                     TlIniFile::ReadFrom(content, "Info", "Author", ""),
                                     TlIniFile::ReadFrom(content, "Info", "LanguageName", "<>"),
                                     path.filename().string()});
    }
    return files;
}
