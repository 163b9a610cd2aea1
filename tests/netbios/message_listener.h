#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sync/event.h"
#include "tests/netbios/netbios_test_util.h"

namespace nbtest {

// A message server on the control block interface, as the reception ports use it: registers a
// name, then listens and serves one session at a time, answering each SMB message unit
// (0xD0, 0xD5, 0xD7, 0xD6) with an empty reply of the same command until the sender is done.
class MessageListener {
  public:
    struct Session {
        std::string caller;
        std::vector<std::vector<std::uint8_t>> units;
        std::uint8_t end_code = 0;  // the receive result that ended it
    };

    MessageListener(nb::Stack& stack, std::uint8_t lana, std::string name)
        : stack_(stack), lana_(lana), name_(std::move(name)) {}
    ~MessageListener() { Stop(); }

    std::uint8_t Start() {
        auto add = Ncb(nb::NCBADDNAME, lana_, name_);
        const std::uint8_t code = stack_.Submit(&add);
        if (code == nb::NRC_GOODRET) {
            thread_ = std::thread([this] { Serve(); });
        }
        return code;
    }
    void Stop() {
        if (!thread_.joinable()) {
            return;
        }
        stop_ = true;
        auto del = Ncb(nb::NCBDELNAME, lana_, name_);
        stack_.Submit(&del);
        thread_.join();
    }
    std::vector<Session> Sessions() {
        std::lock_guard lock(mutex_);
        return sessions_;
    }
    // Waits until n sessions were served.
    bool WaitForSessions(std::size_t n, int timeout_ms = 10000) {
        for (int i = 0; i < timeout_ms / 10; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (sessions_.size() >= n) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::atomic<int> listens_failed{0};

    // The empty reply to a unit: its header with the reply flag, no words (the start reply
    // carries the message group id), no bytes.
    static std::vector<std::uint8_t> Reply(const std::vector<std::uint8_t>& unit,
                                           std::uint16_t group) {
        std::vector<std::uint8_t> reply(unit.begin(), unit.begin() + 32);
        reply[9] |= 0x80;
        if (unit[4] == 0xD5) {
            reply.insert(reply.end(), {1, static_cast<std::uint8_t>(group),
                                       static_cast<std::uint8_t>(group >> 8), 0, 0});
        } else {
            reply.insert(reply.end(), {0, 0, 0});
        }
        return reply;
    }

  private:
    void Serve() {
        platform::Event done;
        std::uint16_t group = 1;
        while (!stop_) {
            done.Clear();
            auto listen = Ncb(nb::NCBLISTEN | nb::ASYNCH, lana_, name_);
            listen.ncb_callname[0] = '*';
            listen.ncb_event = &done;
            if (stack_.Submit(&listen) == nb::NRC_PENDING) {
                platform::Event* e[] = {&done};
                platform::WaitAny(e, platform::kInfinite);
            }
            done.Clear();  // also orders the stack's writes before our reads
            if (listen.ncb_retcode != nb::NRC_GOODRET) {
                ++listens_failed;
                if (stop_) {
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            Session s;
            s.caller = std::string(reinterpret_cast<char*>(listen.ncb_callname), 16);
            for (;;) {
                std::uint8_t buffer[1024];
                auto recv = Ncb(nb::NCBRECV, lana_, name_);
                recv.ncb_lsn = listen.ncb_lsn;
                recv.ncb_buffer = buffer;
                recv.ncb_length = sizeof buffer;
                s.end_code = stack_.Submit(&recv);
                if (s.end_code != nb::NRC_GOODRET || recv.ncb_length < 35 || buffer[0] != 0xFF) {
                    break;
                }
                std::vector<std::uint8_t> unit(buffer, buffer + recv.ncb_length);
                s.units.push_back(unit);
                auto reply = Reply(unit, group);
                auto send = Ncb(nb::NCBSEND, lana_, name_);
                send.ncb_lsn = listen.ncb_lsn;
                send.ncb_buffer = reply.data();
                send.ncb_length = static_cast<std::uint16_t>(reply.size());
                stack_.Submit(&send);
                if (unit[4] == 0xD0 || unit[4] == 0xD6) {
                    break;
                }
            }
            ++group;
            auto hangup = Ncb(nb::NCBHANGUP, lana_, name_);
            hangup.ncb_lsn = listen.ncb_lsn;
            stack_.Submit(&hangup);
            std::lock_guard lock(mutex_);
            sessions_.push_back(std::move(s));
        }
    }

    nb::Stack& stack_;
    const std::uint8_t lana_;
    const std::string name_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Session> sessions_;
};

}  // namespace nbtest
