#include "platform/registry/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

namespace platform::registry {
namespace {

// Closes a descriptor when it goes out of scope.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded (a late write error shows up here).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void SyncFolder(const std::filesystem::path& folder) {
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
}

}  // namespace

ReadStatus ReadWholeFile(const std::filesystem::path& path, std::size_t max_bytes,
                         std::string& out) {
    out.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        return errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return ReadStatus::Failed;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > max_bytes) {
        return ReadStatus::TooLarge;
    }
    // The size may change while reading; never take more than the limit.
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            out.clear();
            return ReadStatus::Failed;
        }
        if (n == 0) {
            return ReadStatus::Ok;
        }
        if (out.size() + static_cast<std::size_t>(n) > max_bytes) {
            out.clear();
            return ReadStatus::TooLarge;
        }
        out.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

bool WriteFileAtomically(const std::filesystem::path& link_or_file, std::string_view content) {
    std::error_code ec;
    // A file kept elsewhere through a symbolic link (as dotfile managers do) is replaced where
    // it lives; the link stays.
    std::filesystem::path path = link_or_file;
    for (int hops = 0; hops < 8 && std::filesystem::is_symlink(path, ec); ++hops) {
        const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
        if (ec) {
            return false;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    const std::filesystem::path folder = path.parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            return false;
        }
    }
    std::string name = path.string() + ".XXXXXX";
    Fd fd(::mkstemp(name.data()));
    if (fd.get() < 0) {
        return false;
    }
    const bool written = WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0 && fd.Close();
    if (!written || ::rename(name.c_str(), path.c_str()) != 0) {
        ::unlink(name.c_str());
        return false;
    }
    SyncFolder(folder.empty() ? std::filesystem::path(".") : folder);
    return true;
}

std::optional<std::filesystem::path> SetFileAside(const std::filesystem::path& path) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32] = "unknown";
    if (::localtime_r(&now, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    }
    const std::string base = path.string() + ".broken-" + stamp;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string target = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        // link + unlink never replaces an existing file, unlike rename.
        if (::link(path.c_str(), target.c_str()) == 0) {
            if (::unlink(path.c_str()) != 0) {
                return std::nullopt;
            }
            return target;
        }
        if (errno != EEXIST) {
            // Folders that refuse hard links: fall back to a rename onto a name seen free.
            std::error_code ec;
            if (std::filesystem::exists(target, ec)) {
                continue;
            }
            if (::rename(path.c_str(), target.c_str()) != 0) {
                return std::nullopt;
            }
            return target;
        }
    }
    return std::nullopt;
}

}  // namespace platform::registry
