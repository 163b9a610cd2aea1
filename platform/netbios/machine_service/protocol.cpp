#include "platform/netbios/machine_service/protocol.h"

#include <algorithm>

#include "platform/netbios/wire/bytes.h"

namespace platform::netbios::service {
namespace {

using wire::Reader;
using wire::Writer;

constexpr std::uint8_t kReplyTag = 0x80;

void PutName(Writer& w, const wire::NetbiosName& name) {
    w.Bytes(name);
}

bool GetName(Reader& r, wire::NetbiosName& name) {
    std::span<const std::uint8_t> bytes;
    if (!r.Bytes(name.size(), bytes)) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), name.begin());
    return true;
}

bool GetText(Reader& r, std::string& text) {
    std::uint8_t size = 0;
    std::span<const std::uint8_t> bytes;
    if (!r.U8(size) || size == 0 || !r.Bytes(size, bytes)) {
        return false;
    }
    text.assign(bytes.begin(), bytes.end());
    return true;
}

}  // namespace

std::vector<std::uint8_t> EncodeRequest(const Request& request) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    w.U8(kProtocolVersion);
    w.U8(static_cast<std::uint8_t>(request.kind));
    w.U32(request.id);
    const auto text = [&] {
        const std::size_t n = std::min<std::size_t>(request.mailslot.size(), 255);
        w.U8(static_cast<std::uint8_t>(n));
        w.Bytes({reinterpret_cast<const std::uint8_t*>(request.mailslot.data()), n});
    };
    switch (request.kind) {
        case Request::Kind::Command: {
            const CommandFields& f = request.ncb;
            for (std::uint8_t b : {f.command, f.lana, f.lsn, f.num, f.rto, f.sto}) {
                w.U8(b);
            }
            w.U16(f.length);
            PutName(w, f.name);
            PutName(w, f.callname);
            if (f.address != 0) {
                w.U32(f.address);
            }
            break;
        }
        case Request::Kind::OpenMailslot:
            w.U16(request.max_size);
            text();
            break;
        case Request::Kind::CloseMailslot:
            text();
            break;
        case Request::Kind::WriteMailslot: {
            w.U8(request.lana);
            const std::size_t c = std::min<std::size_t>(request.computer.size(), 15);
            w.U8(static_cast<std::uint8_t>(c));
            w.Bytes({reinterpret_cast<const std::uint8_t*>(request.computer.data()), c});
            text();
            const std::size_t n = std::min(request.data.size(), kMaxMailslotData);
            w.U16(static_cast<std::uint16_t>(n));
            w.Bytes(std::span(request.data).first(n));
            break;
        }
    }
    return out;
}

std::optional<Request> DecodeRequest(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    std::uint8_t version = 0;
    std::uint8_t kind = 0;
    Request request;
    if (!r.U8(version) || version != kProtocolVersion || !r.U8(kind) || !r.U32(request.id)) {
        return std::nullopt;
    }
    bool ok = false;
    switch (static_cast<Request::Kind>(kind)) {
        case Request::Kind::Command: {
            CommandFields& f = request.ncb;
            ok = r.U8(f.command) && r.U8(f.lana) && r.U8(f.lsn) && r.U8(f.num) && r.U8(f.rto) &&
                 r.U8(f.sto) && r.U16(f.length) && GetName(r, f.name) && GetName(r, f.callname) &&
                 (r.remaining() == 0 || (r.U32(f.address) && f.address != 0));
            break;
        }
        case Request::Kind::OpenMailslot:
            ok = r.U16(request.max_size) && GetText(r, request.mailslot);
            break;
        case Request::Kind::CloseMailslot:
            ok = GetText(r, request.mailslot);
            break;
        case Request::Kind::WriteMailslot: {
            std::uint16_t size = 0;
            std::span<const std::uint8_t> data;
            ok = r.U8(request.lana) && GetText(r, request.computer) &&
                 request.computer.size() <= 15 && GetText(r, request.mailslot) && r.U16(size) &&
                 size <= kMaxMailslotData && r.Bytes(size, data);
            request.data.assign(data.begin(), data.end());
            break;
        }
        default:
            return std::nullopt;
    }
    if (!ok || r.remaining() != 0) {
        return std::nullopt;
    }
    request.kind = static_cast<Request::Kind>(kind);
    return request;
}

std::vector<std::uint8_t> EncodeReply(const Reply& reply) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    w.U8(kProtocolVersion);
    w.U8(kReplyTag);
    w.U32(reply.id);
    w.U8(reply.retcode);
    w.U8(reply.lsn);
    w.U8(reply.num);
    PutName(w, reply.callname);
    w.U32(reply.session_idle_ms);
    w.U32(reply.max_session_message);
    const std::size_t n = std::min<std::size_t>(reply.data.size(), 255);
    w.U8(static_cast<std::uint8_t>(n));
    w.Bytes(std::span(reply.data).first(n));
    if (reply.address != 0) {
        w.U32(reply.address);
    }
    return out;
}

std::optional<Reply> DecodeReply(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    std::uint8_t version = 0;
    std::uint8_t tag = 0;
    std::uint8_t size = 0;
    std::span<const std::uint8_t> data;
    Reply reply;
    if (!r.U8(version) || version != kProtocolVersion || !r.U8(tag) || tag != kReplyTag ||
        !r.U32(reply.id) || !r.U8(reply.retcode) || !r.U8(reply.lsn) || !r.U8(reply.num) ||
        !GetName(r, reply.callname) || !r.U32(reply.session_idle_ms) ||
        !r.U32(reply.max_session_message) || !r.U8(size) || !r.Bytes(size, data) ||
        (r.remaining() != 0 && (!r.U32(reply.address) || reply.address == 0)) ||
        r.remaining() != 0) {
        return std::nullopt;
    }
    reply.data.assign(data.begin(), data.end());
    return reply;
}

}  // namespace platform::netbios::service
