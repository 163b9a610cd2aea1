// Requests as a program (or anything that connects) sends them to the NetBIOS service, and the
// replies a program reads: decoded within the bytes given, and a decoded message encodes back to
// exactly those bytes (nothing is accepted that the service would read differently).
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/netbios/machine_service/protocol.h"

namespace svc = platform::netbios::service;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (auto request = svc::DecodeRequest(bytes)) {
        const auto again = svc::EncodeRequest(*request);
        if (again.size() != size || !std::equal(again.begin(), again.end(), data)) {
            __builtin_trap();
        }
    }
    if (auto reply = svc::DecodeReply(bytes)) {
        const auto again = svc::EncodeReply(*reply);
        if (again.size() != size || !std::equal(again.begin(), again.end(), data)) {
            __builtin_trap();
        }
    }
    return 0;
}
