#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
// While it lives, XDG_CONFIG_HOME and HOME point into it, so that nothing a test does can reach
// the real user's configuration.
class TempConfigHome {
  public:
    TempConfigHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tolvane-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root_ = pattern;
        std::filesystem::create_directories(root_ / "home");
        std::filesystem::create_directories(config());
        ::setenv("XDG_CONFIG_HOME", config().c_str(), 1);
        ::setenv("HOME", (root_ / "home").c_str(), 1);
    }
    ~TempConfigHome() {
        for (auto& [name, value] : saved_) {
            value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
        }
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path config() const { return root_ / "config"; }

  private:
    static std::optional<std::string> Get(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::pair<const char*, std::optional<std::string>> saved_[2] = {
        {"XDG_CONFIG_HOME", Get("XDG_CONFIG_HOME")}, {"HOME", Get("HOME")}};
    std::filesystem::path root_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFile(const std::filesystem::path& path, std::string_view content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}
