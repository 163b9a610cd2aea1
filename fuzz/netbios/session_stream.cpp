// The session service stream: the first byte chooses how the rest is cut into arrivals and how
// much room each receive has; the reader must hand out exactly the body bytes it was given, never
// more, and always make progress. The same bytes are also read as a session request and as the
// answer to one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/netbios/wire/session.h"

namespace wire = platform::netbios::wire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t piece = 1 + (data[0] & 0x0F) * 37;
    const std::size_t room = (data[0] >> 4) * 64;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);

    (void)wire::DecodeSessionAnswer(stream);
    if (stream.size() >= wire::kSessionHeaderSize) {
        (void)wire::DecodeSessionRequest(stream.subspan(wire::kSessionHeaderSize));
    }

    wire::SessionStreamReader reader(4096);
    std::size_t handed_out = 0;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        auto chunk = stream.subspan(at, std::min(piece, stream.size() - at));
        while (!chunk.empty()) {
            const std::size_t r = room == 0 ? 1 : room;
            auto step = reader.Next(chunk, r);
            if (step.consumed > chunk.size() || step.data.size() > r ||
                step.data.size() > step.consumed) {
                __builtin_trap();
            }
            if (!step.data.empty() &&
                (step.data.data() < chunk.data() ||
                 step.data.data() + step.data.size() > chunk.data() + chunk.size())) {
                __builtin_trap();
            }
            handed_out += step.data.size();
            if (step.status == wire::SessionStreamReader::Status::BadFrame ||
                step.status == wire::SessionStreamReader::Status::TooLarge) {
                return 0;
            }
            if (step.consumed == 0) {
                __builtin_trap();  // with room to spare a step always takes something
            }
            chunk = chunk.subspan(step.consumed);
        }
    }
    if (handed_out > stream.size()) {
        __builtin_trap();
    }
    return 0;
}
