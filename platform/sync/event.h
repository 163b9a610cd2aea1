#pragma once

#include <atomic>
#include <chrono>
#include <new>
#include <span>

namespace platform {

// A waitable event on an eventfd: manual-reset events stay signalled until cleared, auto-reset
// events are consumed by the one wait that sees them. Several events can be waited on at once.
class Event {
  public:
    enum class Mode { ManualReset, AutoReset };

    // Throws std::system_error when the process is out of descriptors.
    explicit Event(Mode mode = Mode::ManualReset, bool signalled = false);
    // Does not throw: when no descriptor can be made the event is not valid.
    Event(Mode mode, std::nothrow_t);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Clear();
    // Tests the event without waiting; an auto-reset event found signalled is consumed.
    bool IsSet();

    Mode mode() const { return mode_; }
    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Consumes the signal of an auto-reset event that a poll found readable; false when another
    // waiter took it first. Manual-reset events are left as they are.
    bool TryConsume();

  private:
    Mode mode_;
    int fd_;
    // A manual-reset event's state beside its descriptor (a counting one: each setting adds one,
    // each clearing takes one), so that testing it, setting it again or clearing it when clear
    // needs no system call.
    std::atomic<bool> set_{false};
};

inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;
inline constexpr int kInfinite = -1;

// Waits until one of the events is signalled and returns its index (the lowest when several are),
// kWaitTimeout when timeout_ms (kInfinite for no limit) passed first, kWaitFailed when the
// platform wait failed.
int WaitAny(std::span<Event* const> events, int timeout_ms);

}  // namespace platform
