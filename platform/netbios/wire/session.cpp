#include "platform/netbios/wire/session.h"

#include <algorithm>

#include "platform/netbios/wire/bytes.h"

namespace platform::netbios::wire {

std::optional<SessionHeader> DecodeSessionHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kSessionHeaderSize) {
        return std::nullopt;
    }
    SessionHeader h;
    h.type = bytes[0];
    h.length = static_cast<std::uint32_t>(bytes[1] & 0x01) << 16 |
               static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    return h;
}

std::array<std::uint8_t, kSessionHeaderSize> EncodeSessionHeader(std::uint8_t type,
                                                                 std::uint32_t length) {
    length = std::min(length, kMaxSessionLength);
    return {type, static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length)};
}

std::optional<SessionRequest> DecodeSessionRequest(std::span<const std::uint8_t> body) {
    std::size_t offset = 0;
    auto called = DecodeName(body, offset, false);
    if (!called) {
        return std::nullopt;
    }
    auto calling = DecodeName(body, offset, false);
    if (!calling) {
        return std::nullopt;
    }
    return SessionRequest{called->name, calling->name, called->scoped || calling->scoped};
}

std::vector<std::uint8_t> EncodeSessionRequest(const NetbiosName& called,
                                               const NetbiosName& calling) {
    std::vector<std::uint8_t> out;
    auto header = EncodeSessionHeader(session_type::kRequest, 2 * kEncodedNameSize);
    out.assign(header.begin(), header.end());
    EncodeName(called, out);
    EncodeName(calling, out);
    return out;
}

std::array<std::uint8_t, 4> EncodePositiveSessionResponse() {
    return EncodeSessionHeader(session_type::kPositive, 0);
}

std::array<std::uint8_t, 5> EncodeNegativeSessionResponse(std::uint8_t error) {
    return {session_type::kNegative, 0, 0, 1, error};
}

std::optional<SessionAnswer> DecodeSessionAnswer(std::span<const std::uint8_t> packet) {
    auto header = DecodeSessionHeader(packet);
    if (!header || packet.size() - kSessionHeaderSize < header->length) {
        return std::nullopt;
    }
    Reader r(packet.subspan(kSessionHeaderSize, header->length));
    SessionAnswer a;
    switch (header->type) {
        case session_type::kPositive:
            a.kind = SessionAnswer::Kind::Positive;
            return a;
        case session_type::kNegative:
            a.kind = SessionAnswer::Kind::Negative;
            if (!r.U8(a.error)) {
                return std::nullopt;
            }
            return a;
        case session_type::kRetarget:
            a.kind = SessionAnswer::Kind::Retarget;
            if (!r.U32(a.address) || !r.U16(a.port)) {
                return std::nullopt;
            }
            return a;
        default:
            return std::nullopt;
    }
}

SessionStreamReader::Step SessionStreamReader::Next(std::span<const std::uint8_t> input,
                                                    std::size_t max_data) {
    Step step;
    if (failed_) {
        step.status = Status::BadFrame;
        return step;
    }
    for (;;) {
        if (body_left_ > 0) {
            const std::size_t n =
                std::min<std::size_t>({body_left_, input.size() - step.consumed, max_data});
            step.data = input.subspan(step.consumed, n);
            step.consumed += n;
            body_left_ -= static_cast<std::uint32_t>(n);
            if (body_left_ == 0) {
                step.status = Status::MessageEnd;
            } else {
                step.status = n == 0 && step.consumed == input.size() && max_data > 0
                                  ? Status::NeedMore
                                  : Status::Data;
            }
            return step;
        }
        if (skip_left_ > 0) {
            const std::size_t n = std::min<std::size_t>(skip_left_, input.size() - step.consumed);
            step.consumed += n;
            skip_left_ -= static_cast<std::uint32_t>(n);
            if (skip_left_ > 0) {
                step.status = Status::NeedMore;
                return step;
            }
            continue;
        }
        while (header_fill_ < kSessionHeaderSize && step.consumed < input.size()) {
            header_[header_fill_++] = input[step.consumed++];
        }
        if (header_fill_ < kSessionHeaderSize) {
            step.status = Status::NeedMore;
            return step;
        }
        header_fill_ = 0;
        const SessionHeader h = *DecodeSessionHeader(header_);
        if (h.type == session_type::kKeepAlive) {
            skip_left_ = h.length;
            continue;
        }
        if (h.type != session_type::kMessage) {
            failed_ = true;
            step.status = Status::BadFrame;
            return step;
        }
        if (h.length > max_message_) {
            failed_ = true;
            step.status = Status::TooLarge;
            return step;
        }
        if (h.length == 0) {
            step.status = Status::MessageEnd;
            return step;
        }
        body_left_ = h.length;
    }
}

}  // namespace platform::netbios::wire
