#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A minimal NetBIOS session client for tests: connects to TCP 139 at an address, asks for a
// session to NAME<03>, and exchanges whole session messages. Every call has a time limit so a
// test fails rather than hangs.
class SessionClient {
  public:
    SessionClient() = default;
    ~SessionClient();
    SessionClient(const SessionClient&) = delete;
    SessionClient& operator=(const SessionClient&) = delete;

    bool Connect(const std::string& address, int port = 139);
    // Sends a session request; returns the response type (0x82 positive, 0x83 negative) or
    // nullopt when none came.
    std::optional<std::uint8_t> RequestSession(const std::string& called,
                                               std::uint8_t suffix = 0x03,
                                               const std::string& calling = "TESTCLIENT");
    bool SendRaw(const std::vector<std::uint8_t>& bytes);
    // Sends one session message holding the bytes.
    bool SendMessage(const std::vector<std::uint8_t>& payload);
    // The next session message's payload, or nullopt at close, error or time-out.
    std::optional<std::vector<std::uint8_t>> ReceiveMessage(int timeout_ms = 5000);
    // True once the peer has closed the connection (waits up to timeout_ms).
    bool WaitClosed(int timeout_ms = 5000);
    void Close();

  private:
    bool ReadExact(std::uint8_t* out, std::size_t n, int timeout_ms);
    int fd_ = -1;
};

// SMB message units as senders write them.
namespace smb_units {
std::vector<std::uint8_t> SingleBlock(const std::string& origin, const std::string& recipient,
                                      const std::string& text);
std::vector<std::uint8_t> Start(const std::string& origin, const std::string& recipient);
std::vector<std::uint8_t> Text(std::uint16_t group, const std::string& text);
std::vector<std::uint8_t> End(std::uint16_t group);
}  // namespace smb_units
