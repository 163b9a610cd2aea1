#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "platform/netbios/socket.h"
#include "platform/netbios/wire/name.h"
#include "platform/netbios/wire/session.h"
#include "platform/sync/event.h"

// One established NetBIOS session: receiving whole session messages and sending them on the
// caller's thread. A session is shared between the stack's table and the threads using it; its
// socket closes when the last of them lets go, so an abort never pulls a descriptor from under a
// blocked receive.
namespace platform::netbios {

class Session {
  public:
    struct Limits {
        std::chrono::milliseconds idle{30000};
        std::size_t max_message = 64 * 1024;
        // Past this the stack ends the session once another sender waits for its name
        // (time_point::max(): never).
        std::chrono::steady_clock::time_point deadline =
            std::chrono::steady_clock::time_point::max();
    };

    Session(UniqueFd&& fd, std::uint8_t lana, std::uint8_t lsn, const wire::NetbiosName& local,
            const wire::NetbiosName& remote, std::uint32_t remote_address, Limits limits);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Receives the next session message (skipping keep-alives) into out: NRC_GOODRET with its
    // length, NRC_INCOMP with the first out.size() bytes when it is longer (the next receive
    // continues it), NRC_SCLOSED when the peer closed between messages or the session was hung
    // up, NRC_SABORT when it broke, fell silent past the idle bound or sent something no session
    // carries.
    std::uint8_t Receive(std::span<std::uint8_t> out, std::size_t& received);
    // Sends one session message; NRC_SCLOSED/NRC_SABORT when the session is over.
    std::uint8_t Send(std::span<const std::uint8_t> data);

    // Ends the session with that code for every later call; wakes blocked calls. The first end
    // wins. Safe from any thread.
    void Abort(std::uint8_t code);
    // Ends the session locally in order: waits for blocked calls to leave, then returns the
    // socket half-closed for sending (so what was sent still arrives) when the session was still
    // open, or an empty one.
    UniqueFd Hangup();
    // Ends the session here without closing it and returns its socket, for another process to
    // carry on; empty when the session is over or holds bytes read but not yet taken.
    UniqueFd Release();

    // NRC_GOODRET while the session is open, else the code it ended with.
    std::uint8_t state() const { return ended_.load(); }
    std::uint8_t lana() const { return lana_; }
    std::uint8_t lsn() const { return lsn_; }
    std::chrono::steady_clock::time_point deadline() const { return limits_.deadline; }
    const wire::NetbiosName& local_name() const { return local_; }
    const wire::NetbiosName& remote_name() const { return remote_; }
    std::uint32_t remote_address() const { return remote_address_; }

  private:
    enum class Wait { Ready, Aborted, TimedOut, Failed };
    // Hands out what was read ahead: the return code once the message ended, out is full or the
    // stream went wrong; nullopt once nothing staged is left.
    std::optional<std::uint8_t> TakeStaged(std::span<std::uint8_t> out, std::size_t& received);
    Wait WaitFor(short events, std::chrono::steady_clock::time_point deadline);
    // The abort signal's descriptor, made by the first wait: most sessions end (or are handed
    // on) without ever waiting. -1 while the process is out of descriptors.
    int AbortFd();
    // Wakes a wait, if there was one.
    void WakeWaits();

    std::mutex abort_mutex_;  // guards abort_
    std::unique_ptr<platform::Event> abort_;
    UniqueFd fd_;
    const std::uint8_t lana_;
    const std::uint8_t lsn_;
    const wire::NetbiosName local_;
    const wire::NetbiosName remote_;
    const std::uint32_t remote_address_;
    const Limits limits_;
    std::atomic<std::uint8_t> ended_{0};

    std::mutex receive_mutex_;  // one receive at a time; guards the fields below
    wire::SessionStreamReader reader_;
    std::array<std::uint8_t, 4096> staging_{};
    std::size_t staged_begin_ = 0;
    std::size_t staged_end_ = 0;
    std::chrono::steady_clock::time_point last_heard_;

    std::mutex send_mutex_;  // one message on the wire at a time
};

}  // namespace platform::netbios
