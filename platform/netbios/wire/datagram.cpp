#include "platform/netbios/wire/datagram.h"

#include "platform/netbios/wire/bytes.h"

namespace platform::netbios::wire {

std::optional<Datagram> DecodeDatagram(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    Datagram d;
    std::uint16_t length = 0;
    if (!r.U8(d.type) || !r.U8(d.flags) || !r.U16(d.id) || !r.U32(d.source_address) ||
        !r.U16(d.source_port)) {
        return std::nullopt;
    }
    if (d.type != datagram_type::kDirectUnique && d.type != datagram_type::kDirectGroup &&
        d.type != datagram_type::kBroadcast) {
        return std::nullopt;
    }
    if (!r.U16(length) || !r.U16(d.packet_offset) || r.remaining() < length) {
        return std::nullopt;
    }
    // Names and data end at DGM_LENGTH; trailing bytes are not part of the datagram.
    auto body = bytes.subspan(kDatagramHeaderSize, length);
    std::size_t offset = 0;
    auto source = DecodeName(body, offset, false);
    if (!source) {
        return std::nullopt;
    }
    auto destination = DecodeName(body, offset, false);
    if (!destination) {
        return std::nullopt;
    }
    d.source = source->name;
    d.destination = destination->name;
    d.scoped = source->scoped || destination->scoped;
    d.user_data = body.subspan(offset);
    return d;
}

std::vector<std::uint8_t> EncodeDatagram(std::uint8_t type, std::uint16_t id,
                                         std::uint32_t source_address, std::uint16_t source_port,
                                         const NetbiosName& source, const NetbiosName& destination,
                                         std::span<const std::uint8_t> user_data) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    w.U8(type);
    w.U8(datagram_flags::kFirst);  // B node, whole datagram
    w.U16(id);
    w.U32(source_address);
    w.U16(source_port);
    w.U16(static_cast<std::uint16_t>(2 * kEncodedNameSize + user_data.size()));
    w.U16(0);
    EncodeName(source, out);
    EncodeName(destination, out);
    w.Bytes(user_data);
    return out;
}

}  // namespace platform::netbios::wire
