#include "tools/netbiosd/server/relay.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace platform::netbios::service {
namespace {

constexpr std::size_t kHeader = 4;
constexpr std::uint8_t kSessionMessage = 0x00;
constexpr std::size_t kChunk = 16384;

std::size_t BodySize(const std::vector<std::uint8_t>& m) {
    return (static_cast<std::size_t>(m[1] & 0x01) << 16) | (std::size_t{m[2]} << 8) | m[3];
}

// Sends what the socket takes now; false when it failed.
bool SendSome(int fd, std::vector<std::uint8_t>& bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        bytes.erase(bytes.begin(), bytes.begin() + n);
    }
    return true;
}

}  // namespace

Relay::Relay(UniqueFd network, std::size_t max_message, std::size_t max_waiting,
             std::chrono::milliseconds idle)
    : network_(std::move(network)),
      max_message_(max_message),
      max_waiting_(max_waiting),
      idle_(idle),
      deadline_(Clock::now() + idle) {
    ::fcntl(network_.get(), F_SETFL, ::fcntl(network_.get(), F_GETFL) | O_NONBLOCK);
}

Relay::~Relay() {
    ::shutdown(network_.get(), SHUT_RDWR);
}

UniqueFd Relay::AddProgram() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return {};
    }
    UniqueFd ours(pair[0]);
    ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    // What the system holds for a program that does not read is bounded too.
    const int room = static_cast<int>(max_waiting_);
    ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    programs_.push_back({std::move(ours), {}, {}, 0, false});
    had_programs_ = true;
    return UniqueFd(pair[1]);
}

std::size_t Relay::Programs() const {
    return programs_.size();
}

void Relay::Fill(std::vector<pollfd>& fds) const {
    const short network =
        static_cast<short>((programs_.empty() ? 0 : POLLIN) | (to_network_.empty() ? 0 : POLLOUT));
    fds.push_back({network_done_ ? -1 : network_.get(), network, 0});
    for (const auto& p : programs_) {
        fds.push_back({p.fd.get(), static_cast<short>(POLLIN | (p.out.empty() ? 0 : POLLOUT)), 0});
    }
}

bool Relay::Flush(Program& p) {
    if (!SendSome(p.fd.get(), p.out) || p.out.size() > max_waiting_) {
        return false;
    }
    if (network_done_ && p.out.empty() && !p.ended) {
        ::shutdown(p.fd.get(), SHUT_WR);  // it has the whole session: the end comes next
        p.ended = true;
    }
    return true;
}

bool Relay::FlushNetwork() {
    return SendSome(network_.get(), to_network_);
}

void Relay::FromNetwork(Clock::time_point now) {
    std::uint8_t buffer[kChunk];
    const ssize_t n = ::recv(network_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        // The caller is done. Slower programs still read to the end and answer into the void, so
        // that none of them sees its message cut short; each stream ends once it has it all.
        ::shutdown(network_.get(), SHUT_RDWR);
        network_done_ = true;
        to_network_.clear();
        deadline_ = now + idle_;
        std::erase_if(programs_, [&](Program& p) { return !Flush(p); });
        return;
    }
    deadline_ = now + idle_;
    std::erase_if(programs_, [&](Program& p) {
        p.out.insert(p.out.end(), buffer, buffer + n);
        return !Flush(p);
    });
}

bool Relay::FromProgram(Program& p) {
    std::uint8_t buffer[kChunk];
    const ssize_t n = ::recv(p.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(n);) {
        const std::size_t need =
            p.message.size() < kHeader ? kHeader : kHeader + BodySize(p.message);
        const std::size_t take = std::min(need - p.message.size(), static_cast<std::size_t>(n) - i);
        p.message.insert(p.message.end(), buffer + i, buffer + i + take);
        i += take;
        if (p.message.size() == kHeader && BodySize(p.message) > max_message_) {
            return false;
        }
        if (p.message.size() < kHeader || p.message.size() < kHeader + BodySize(p.message)) {
            continue;
        }
        // Keep-alives and the like stay here; the first answer to each message goes on.
        if (p.message[0] == kSessionMessage && p.answers++ == forwarded_ && !network_done_) {
            ++forwarded_;
            to_network_.insert(to_network_.end(), p.message.begin(), p.message.end());
        }
        p.message.clear();
    }
    return true;
}

bool Relay::Handle(std::span<const pollfd> fds, Clock::time_point now) {
    if (fds.size() != programs_.size() + 1) {
        return false;
    }
    std::vector<bool> dropped(programs_.size(), false);
    for (std::size_t i = 0; i < programs_.size(); ++i) {
        const short r = fds[i + 1].revents;
        if ((r & POLLOUT) && !Flush(programs_[i])) {
            dropped[i] = true;
        } else if ((r & POLLIN) && !FromProgram(programs_[i])) {
            dropped[i] = true;
        } else if ((r & (POLLERR | POLLHUP)) && !(r & POLLIN)) {
            dropped[i] = true;
        }
    }
    for (std::size_t i = programs_.size(); i-- > 0;) {
        if (dropped[i]) {
            programs_.erase(programs_.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    if (!network_done_) {
        // What the caller does not take: it does not read its answers.
        if (!FlushNetwork() || to_network_.size() > 2 * (max_message_ + kHeader)) {
            return false;
        }
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            FromNetwork(now);
        }
    }
    if (now >= deadline_) {
        return false;
    }
    // Every program has hung up: the session ends once the caller has its last answer.
    return !(had_programs_ && programs_.empty() && to_network_.empty());
}

}  // namespace platform::netbios::service
