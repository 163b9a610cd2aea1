// Name service packets as they arrive on UDP 137: the packet, then what the stack reads from its
// records (NB entries, node status), and names at every offset with pointers followed.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/netbios/wire/name_service.h"

namespace wire = platform::netbios::wire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (auto packet = wire::DecodeNsPacket(bytes)) {
        for (const auto* records : {&packet->answers, &packet->authority, &packet->additional}) {
            for (const auto& r : *records) {
                (void)wire::DecodeNbEntries(r.rdata);
                (void)wire::DecodeNodeStatus(r.rdata);
            }
        }
    }
    for (std::size_t offset = 0; offset < size && offset < 64; ++offset) {
        std::size_t at = offset;
        if (wire::DecodeName(bytes, at, true) && (at <= offset || at > size)) {
            __builtin_trap();  // a decoded name always moves forward inside the bytes
        }
    }
    return 0;
}
