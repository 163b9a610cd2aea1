// Datagrams as they arrive on UDP 138, and the mailslot write they carry: the stack's whole path
// from the packet to the data handed to a local mailslot.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/netbios/wire/datagram.h"
#include "platform/netbios/wire/mailslot_write.h"

namespace wire = platform::netbios::wire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    auto datagram = wire::DecodeDatagram(bytes);
    if (!datagram) {
        return 0;
    }
    const auto* end = data + size;
    if (datagram->user_data.data() < data ||
        datagram->user_data.data() + datagram->user_data.size() > end) {
        __builtin_trap();
    }
    if (auto write = wire::DecodeMailslotWrite(datagram->user_data)) {
        if (write->data.data() + write->data.size() > end) {
            __builtin_trap();
        }
    }
    return 0;
}
