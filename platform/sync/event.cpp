#include "platform/sync/event.h"

#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

// A wait that sees a manual-reset event set only polls its descriptor, which ThreadSanitizer does
// not take as synchronisation; tell it that Set happens before such a wait returns, as the
// kernel guarantees.
#if defined(__SANITIZE_THREAD__)
#define TOLVANE_EVENT_ANNOTATE 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TOLVANE_EVENT_ANNOTATE 1
#endif
#endif
#ifdef TOLVANE_EVENT_ANNOTATE
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace platform {

namespace {

int MakeDescriptor(Event::Mode mode) {
    return ::eventfd(
        0, EFD_NONBLOCK | EFD_CLOEXEC | (mode == Event::Mode::ManualReset ? EFD_SEMAPHORE : 0));
}

}  // namespace

Event::Event(Mode mode, bool signalled) : mode_(mode), fd_(MakeDescriptor(mode)) {
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    if (signalled) {
        Set();
    }
}

Event::Event(Mode mode, std::nothrow_t) : mode_(mode), fd_(MakeDescriptor(mode)) {}

Event::~Event() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void Event::Set() {
#ifdef TOLVANE_EVENT_ANNOTATE
    __tsan_release(this);
#endif
    if (mode_ == Mode::ManualReset && set_.exchange(true)) {
        return;
    }
    const std::uint64_t one = 1;
    // The counter only needs to be non-zero; EAGAIN at its maximum still leaves it set.
    [[maybe_unused]] auto n = ::write(fd_, &one, sizeof one);
}

void Event::Clear() {
    std::uint64_t value;
    if (mode_ == Mode::AutoReset) {
        [[maybe_unused]] auto n = ::read(fd_, &value, sizeof value);
        return;
    }
    if (!set_.exchange(false)) {
        return;
    }
    // Takes the one that setting added; a Set that has changed the state but not yet written
    // is about to.
    while (::read(fd_, &value, sizeof value) < 0 && (errno == EAGAIN || errno == EINTR)) {
        ::sched_yield();
    }
}

bool Event::TryConsume() {
    if (mode_ == Mode::ManualReset) {
        return true;
    }
    std::uint64_t value;
    return ::read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool Event::IsSet() {
    if (mode_ == Mode::ManualReset) {
        return set_.load();
    }
    Event* self = this;
    return WaitAny(std::span<Event* const>(&self, 1), 0) == 0;
}

int WaitAny(std::span<Event* const> events, int timeout_ms) {
    std::vector<pollfd> fds(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        fds[i] = pollfd{events[i]->fd(), POLLIN, 0};
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        int wait = timeout_ms;
        if (timeout_ms > 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        int ready = ::poll(fds.data(), fds.size(), wait);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return kWaitFailed;
        }
        if (ready == 0) {
            return kWaitTimeout;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLERR | POLLNVAL)) {
                return kWaitFailed;
            }
            if ((fds[i].revents & POLLIN) && events[i]->TryConsume()) {
#ifdef TOLVANE_EVENT_ANNOTATE
                __tsan_acquire(events[i]);
#endif
                return static_cast<int>(i);
            }
        }
        // An auto-reset event was taken by another waiter between poll and read: wait again.
        for (auto& f : fds) {
            f.revents = 0;
        }
    }
}

}  // namespace platform
