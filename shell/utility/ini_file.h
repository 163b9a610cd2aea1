#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

// Reads single strings from an INI file, with the results of the Windows profile functions (see
// ini_parser.h): a missing file, section or key gives the default, and a result is cut to at most
// 2047 bytes (never inside a UTF-8 character).
class TlIniFile {
  public:
    static constexpr std::size_t kMaxText = 2047;
    // Larger files are read no further than this.
    static constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;

    TlIniFile() = default;
    explicit TlIniFile(std::filesystem::path path) : path_(std::move(path)) {}

    bool SetPath(std::filesystem::path path) {
        path_ = std::move(path);
        return true;
    }
    const std::filesystem::path& path() const { return path_; }

    // Reads the file on every call, so that it never holds stale text. Only regular files are
    // read; anything else (a folder, a device, a FIFO) counts as missing.
    std::string Read(std::string_view section, std::string_view key,
                     std::string_view default_value) const;

    // The file's text as Read sees it (empty when missing), for callers that look up many keys
    // at once with ReadFrom.
    std::string LoadContent() const;
    static std::string ReadFrom(std::string_view content, std::string_view section,
                                std::string_view key, std::string_view default_value);

  private:
    std::filesystem::path path_;
};
