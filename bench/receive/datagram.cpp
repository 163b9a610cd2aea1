#include "bench/receive/datagram.h"

#include "platform/netbios/wire/datagram.h"
#include "platform/netbios/wire/mailslot_write.h"

namespace wire = platform::netbios::wire;

std::vector<std::uint8_t> MessengerDatagram(const std::string& origin, const std::string& to,
                                            const std::string& text) {
    const std::string payload = origin + '\0' + to + '\0' + text + '\0';
    const auto smb = wire::EncodeMailslotWrite(
        "\\MAILSLOT\\MESSNGR",
        {reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()},
        wire::mailslot_class::kUnreliable);
    return wire::EncodeDatagram(wire::datagram_type::kDirectGroup, 0x1234, 0x7F000001, 138,
                                wire::MakeName("BENCHPC", 0x00), wire::MakeName("WORKGROUP", 0x00),
                                smb);
}
