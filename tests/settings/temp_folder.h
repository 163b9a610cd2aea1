#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
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
        std::filesystem::create_directories(root_ / "config");
        Save("XDG_CONFIG_HOME", saved_xdg_, had_xdg_);
        Save("HOME", saved_home_, had_home_);
        ::setenv("XDG_CONFIG_HOME", config().c_str(), 1);
        ::setenv("HOME", (root_ / "home").c_str(), 1);
    }
    ~TempConfigHome() {
        Restore("XDG_CONFIG_HOME", saved_xdg_, had_xdg_);
        Restore("HOME", saved_home_, had_home_);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path config() const { return root_ / "config"; }

  private:
    static void Save(const char* name, std::string& value, bool& had) {
        const char* v = std::getenv(name);
        had = v != nullptr;
        value = had ? v : "";
    }
    static void Restore(const char* name, const std::string& value, bool had) {
        if (had) {
            ::setenv(name, value.c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

    std::filesystem::path root_;
    std::string saved_xdg_, saved_home_;
    bool had_xdg_ = false, had_home_ = false;
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
