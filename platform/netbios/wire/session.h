#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/netbios/wire/name.h"

// Session service framing (TCP 139): 4-byte headers, the session request and its answers, and a
// reader that splits an established session's byte stream into session messages.
namespace platform::netbios::wire {

namespace session_type {
inline constexpr std::uint8_t kMessage = 0x00;
inline constexpr std::uint8_t kRequest = 0x81;
inline constexpr std::uint8_t kPositive = 0x82;
inline constexpr std::uint8_t kNegative = 0x83;
inline constexpr std::uint8_t kRetarget = 0x84;
inline constexpr std::uint8_t kKeepAlive = 0x85;
}  // namespace session_type

// Negative session response codes.
namespace session_error {
inline constexpr std::uint8_t kNotListeningOnCalled = 0x80;
inline constexpr std::uint8_t kNotListeningForCalling = 0x81;
inline constexpr std::uint8_t kCalledNotPresent = 0x82;
inline constexpr std::uint8_t kInsufficientResources = 0x83;
inline constexpr std::uint8_t kUnspecified = 0x8F;
}  // namespace session_error

inline constexpr std::size_t kSessionHeaderSize = 4;
// The largest length the header can express (16 bits plus the extension bit).
inline constexpr std::uint32_t kMaxSessionLength = 0x1FFFF;

struct SessionHeader {
    std::uint8_t type = 0;
    std::uint32_t length = 0;
};

// nullopt when fewer than 4 bytes are given.
std::optional<SessionHeader> DecodeSessionHeader(std::span<const std::uint8_t> bytes);
// length above kMaxSessionLength is cut to it; callers never send that much.
std::array<std::uint8_t, kSessionHeaderSize> EncodeSessionHeader(std::uint8_t type,
                                                                 std::uint32_t length);

struct SessionRequest {
    NetbiosName called{};
    NetbiosName calling{};
    bool scoped = false;  // either name carried a scope
};

// The body of a session request (after its header).
std::optional<SessionRequest> DecodeSessionRequest(std::span<const std::uint8_t> body);
// The whole packet, header included.
std::vector<std::uint8_t> EncodeSessionRequest(const NetbiosName& called,
                                               const NetbiosName& calling);
std::array<std::uint8_t, 4> EncodePositiveSessionResponse();
std::array<std::uint8_t, 5> EncodeNegativeSessionResponse(std::uint8_t error);

// The answer to a session request, from its packet bytes (header included).
struct SessionAnswer {
    enum class Kind { Positive, Negative, Retarget } kind = Kind::Positive;
    std::uint8_t error = 0;     // Negative
    std::uint32_t address = 0;  // Retarget, host byte order
    std::uint16_t port = 0;     // Retarget
};
std::optional<SessionAnswer> DecodeSessionAnswer(std::span<const std::uint8_t> packet);

// Splits an established session's stream into session messages, skipping keep-alives. Bytes
// are handed in as they arrive; message bodies are passed through without being buffered, so a
// long message costs no memory here. Anything but a session message or keep-alive is an error,
// and so is a message longer than the limit.
class SessionStreamReader {
  public:
    enum class Status {
        NeedMore,    // input used up in the middle of a frame (or between frames)
        Data,        // body bytes of the current message; more of it follows
        MessageEnd,  // the last body bytes (possibly none) of the current message
        BadFrame,    // a frame that has no place on an established session
        TooLarge,    // a message above the limit
    };
    struct Step {
        Status status = Status::NeedMore;
        std::size_t consumed = 0;            // input bytes used, including those in data
        std::span<const std::uint8_t> data;  // body bytes, a part of the input
    };

    explicit SessionStreamReader(std::uint32_t max_message) : max_message_(max_message) {}

    // Takes header bytes and keep-alives, then at most max_data body bytes of the current
    // message. After BadFrame or TooLarge the stream cannot be followed any further.
    Step Next(std::span<const std::uint8_t> input, std::size_t max_data);

    // Between frames: nothing of a header or a message has been read.
    bool AtBoundary() const { return header_fill_ == 0 && body_left_ == 0 && skip_left_ == 0; }
    // Inside a message whose first part was handed out.
    bool InMessage() const { return body_left_ > 0; }

  private:
    std::uint32_t max_message_;
    std::array<std::uint8_t, kSessionHeaderSize> header_{};
    std::size_t header_fill_ = 0;
    std::uint32_t body_left_ = 0;
    std::uint32_t skip_left_ = 0;  // body of a keep-alive that carried one
    bool failed_ = false;
};

}  // namespace platform::netbios::wire
