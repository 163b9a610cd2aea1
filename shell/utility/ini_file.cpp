#include "shell/utility/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "shell/utility/ini_parser.h"

namespace {

// At most max_bytes of the regular file at path; empty for anything else.
std::string ReadRegularFile(const std::filesystem::path& path, std::size_t max_bytes) {
    std::string out;
    if (path.empty()) {
        return out;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char buffer[16 * 1024];
        while (out.size() < max_bytes) {
            const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, max_bytes - out.size()));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            out.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return out;
}

}  // namespace

std::string TlIniFile::LoadContent() const {
    return ReadRegularFile(path_, kMaxFileBytes);
}

std::string TlIniFile::ReadFrom(std::string_view content, std::string_view section,
                                std::string_view key, std::string_view default_value) {
    const auto value = ini::FindValue(content, section, key);
    return std::string(ini::CapText(value ? *value : default_value, kMaxText));
}

std::string TlIniFile::Read(std::string_view section, std::string_view key,
                            std::string_view default_value) const {
    return ReadFrom(LoadContent(), section, key, default_value);
}
