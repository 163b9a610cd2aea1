#include "platform/netbios/port_holder.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

namespace platform::netbios {
namespace {

namespace fs = std::filesystem;

constexpr const char* kListenState = "0A";

// The inodes of the sockets bound to the port: listening TCP sockets and all UDP ones.
std::set<std::string> SocketInodes(std::uint16_t port) {
    std::set<std::string> inodes;
    for (const char* table : {"tcp", "tcp6", "udp", "udp6"}) {
        const bool tcp = table[0] == 't';
        std::ifstream in(std::string("/proc/thread-self/net/") + table);
        std::string line;
        std::getline(in, line);  // the column titles
        while (std::getline(in, line)) {
            // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode;
            const auto colon = local.rfind(':');
            if (colon == std::string::npos || inode.empty() || inode == "0" ||
                (tcp && state != kListenState)) {
                continue;
            }
            unsigned long local_port = 0;
            std::istringstream(local.substr(colon + 1)) >> std::hex >> local_port;
            if (local_port == port) {
                inodes.insert(inode);
            }
        }
    }
    return inodes;
}

}  // namespace

// Calls fn with each entry of the folder, skipping what cannot be read: processes come and go
// while they are looked at.
template <class Fn>
bool ForEachEntry(const fs::path& folder, Fn fn) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (fn(it->path())) {
            return true;
        }
    }
    return false;
}

bool PortInUse(std::uint16_t port) {
    return !SocketInodes(port).empty();
}

std::optional<PortHolder> FindPortHolder(std::uint16_t port) {
    const auto inodes = SocketInodes(port);
    std::optional<PortHolder> found;
    if (inodes.empty()) {
        return found;
    }
    ForEachEntry("/proc", [&](const fs::path& process) {
        const std::string pid = process.filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        // Without the right to look, another user's descriptors read as none.
        return ForEachEntry(process / "fd", [&](const fs::path& fd) {
            std::error_code error;
            const std::string target = fs::read_symlink(fd, error).string();
            if (!target.starts_with("socket:[") ||
                !inodes.contains(target.substr(8, target.size() - 9))) {
                return false;
            }
            found = PortHolder{};
            found->pid = std::stoi(pid);
            std::ifstream comm(process / "comm");
            std::getline(comm, found->program);
            return true;
        });
    });
    return found;
}

}  // namespace platform::netbios
