// The SMB write-mailslot transaction on its own: the data it points at stays inside its bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/netbios/wire/mailslot_write.h"

namespace wire = platform::netbios::wire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto write = wire::DecodeMailslotWrite(std::span<const std::uint8_t>(data, size));
    if (write &&
        (write->data.data() < data || write->data.data() + write->data.size() > data + size ||
         write->name.size() > 255)) {
        __builtin_trap();
    }
    return 0;
}
