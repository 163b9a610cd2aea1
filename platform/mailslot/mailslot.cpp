#include "platform/mailslot/mailslot.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace platform::mailslot {
namespace {

constexpr std::string_view kPrefix = "\\MAILSLOT\\";

// Bumped by SetProvider: mailslots made before no longer receive what arrives.
std::atomic<std::uint64_t> provider_epoch{0};

// One mailslot of this process: its write end, in the table of names while it lives.
class Registration : public Lease {
  public:
    Registration(std::string name, int write_fd)
        : name_(std::move(name)), write_fd_(write_fd), epoch_(provider_epoch.load()) {}
    ~Registration() override;
    bool Live() const override { return epoch_ == provider_epoch.load(); }
    int write_fd() const { return write_fd_; }

  private:
    std::string name_;
    int write_fd_;
    std::uint64_t epoch_;
};

struct Table {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<Registration>> names;
    Provider provider;
};

Table& TheTable() {
    static Table table;
    return table;
}

Registration::~Registration() {
    Table& t = TheTable();
    {
        std::lock_guard lock(t.mutex);
        // A name is taken anew only once its entry has expired, so an expired entry is ours.
        auto it = t.names.find(name_);
        if (it != t.names.end() && it->second.expired()) {
            t.names.erase(it);
        }
    }
    ::close(write_fd_);
}

std::shared_ptr<Registration> Find(std::string_view name) {
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    auto it = t.names.find(CanonicalName(name));
    return it != t.names.end() ? it->second.lock() : nullptr;
}

WriteResult SendOne(int fd, std::span<const std::uint8_t> data) {
    for (;;) {
        if (::send(fd, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
            return WriteResult::Written;
        }
        switch (errno) {
            case EINTR:
                continue;
            case EAGAIN:
                return WriteResult::WouldBlock;
            case ECONNREFUSED:
            case ECONNRESET:
            case ENOTCONN:
            case EPIPE:
                return WriteResult::NoSuchMailslot;  // the reader closed it
            default:
                return WriteResult::Failed;
        }
    }
}

}  // namespace

std::string CanonicalName(std::string_view name) {
    std::string upper;
    for (char c : name) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!upper.starts_with(kPrefix)) {
        upper = std::string(kPrefix) + upper;
    }
    return upper;
}

Mailslot::~Mailslot() {
    Close();
}

Mailslot::Mailslot(Mailslot&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      max_size_(other.max_size_),
      lease_(std::move(other.lease_)) {}

Mailslot& Mailslot::operator=(Mailslot&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        max_size_ = other.max_size_;
        lease_ = std::move(other.lease_);
    }
    return *this;
}

std::optional<Mailslot> Mailslot::Create(std::string_view name, std::size_t max_message_size) {
    Provider provider;
    {
        Table& t = TheTable();
        std::lock_guard lock(t.mutex);
        provider = t.provider;
    }
    return provider ? provider(name, max_message_size) : CreateHere(name, max_message_size);
}

std::optional<Mailslot> Mailslot::CreateHere(std::string_view name, std::size_t max_message_size) {
    const std::string key = CanonicalName(name);
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    auto& slot = t.names[key];
    if (!slot.expired()) {
        return std::nullopt;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
        return std::nullopt;
    }
    // Datagrams go one way only: whoever holds the read end (another process, where a service
    // delivers) can put nothing into the writer's queue.
    ::shutdown(fds[0], SHUT_WR);
    ::shutdown(fds[1], SHUT_RD);
    auto registration = std::make_shared<Registration>(key, fds[1]);
    slot = registration;
    return Adopt(fds[0], max_message_size, std::move(registration));
}

Lease::~Lease() {
    if (const int fd = reader_.load(); fd >= 0) {
        ::close(fd);
    }
}

void Lease::WakeReader() {
    // The reader's receive side ends: its descriptor turns readable for good.
    if (const int fd = reader_.load(); fd >= 0) {
        ::shutdown(fd, SHUT_RD);
    }
}

Mailslot Mailslot::Adopt(int read_fd, std::size_t max_message_size, std::shared_ptr<Lease> lease) {
    if (lease && read_fd >= 0) {
        lease->reader_ = ::fcntl(read_fd, F_DUPFD_CLOEXEC, 0);
    }
    Mailslot m;
    m.fd_ = read_fd;
    m.max_size_ = max_message_size;
    m.lease_ = std::move(lease);
    return m;
}

std::optional<Mailslot::Info> Mailslot::GetInfo() {
    if (fd_ < 0 || (lease_ && !lease_->Live())) {
        return std::nullopt;
    }
    for (;;) {
        std::uint8_t probe;
        // MSG_TRUNC makes the peek report the whole datagram's size; an empty one still counts.
        ssize_t n = ::recv(fd_, &probe, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return Info{};
            }
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (static_cast<std::size_t>(n) <= max_size_) {
            return Info{static_cast<std::size_t>(n), 1};
        }
        // Too large for this mailslot: a writer on Windows would have been refused. Drop it.
        ::recv(fd_, &probe, 0, MSG_DONTWAIT);
    }
}

std::optional<std::size_t> Mailslot::Read(std::span<std::uint8_t> out) {
    if (fd_ < 0) {
        return std::nullopt;
    }
    for (;;) {
        ssize_t n = ::recv(fd_, out.data(), out.size(), MSG_DONTWAIT);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

void Mailslot::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    lease_.reset();
}

std::shared_ptr<Lease> Mailslot::ReleaseLease() {
    auto lease = std::move(lease_);
    // The read end lives on elsewhere only: no copy of it may keep it open here.
    if (lease) {
        if (const int fd = lease->reader_.exchange(-1); fd >= 0) {
            ::close(fd);
        }
    }
    Close();
    return lease;
}

void SetProvider(Provider provider) {
    Table& t = TheTable();
    // Under the lock, so that a mailslot made meanwhile is either live or woken here. A
    // registration let go of here would take the lock again: they are let go of after it.
    std::vector<std::shared_ptr<Registration>> woken;
    std::unique_lock lock(t.mutex);
    t.provider = std::move(provider);
    ++provider_epoch;
    for (auto& [name, registration] : t.names) {
        if (auto r = registration.lock()) {
            r->WakeReader();
            woken.push_back(std::move(r));
        }
    }
    lock.unlock();
}

WriteResult Write(std::string_view name, std::span<const std::uint8_t> data) {
    auto registration = Find(name);
    return registration ? SendOne(registration->write_fd(), data) : WriteResult::NoSuchMailslot;
}

Writer::~Writer() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Writer::Writer(Writer&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Writer& Writer::operator=(Writer&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

std::optional<Writer> Writer::Open(std::string_view name) {
    auto registration = Find(name);
    const int fd = registration ? ::fcntl(registration->write_fd(), F_DUPFD_CLOEXEC, 0) : -1;
    if (fd < 0) {
        return std::nullopt;
    }
    Writer w;
    w.fd_ = fd;
    return w;
}

WriteResult Writer::Write(std::span<const std::uint8_t> data) {
    if (fd_ < 0) {
        return WriteResult::Failed;
    }
    return SendOne(fd_, data);
}

}  // namespace platform::mailslot
