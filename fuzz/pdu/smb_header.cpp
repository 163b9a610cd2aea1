// The plain unit: acceptance exactly when the counts fit, and a decoded unit re-encodes to the
// bytes it came from.
#include <algorithm>

#include "fuzz/pdu/watched_decode.h"
#include "reception/smb/smb_pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto received = fuzz::AsReceived(data, size);
    CSmbPdu a;
    CSmbPdu b;
    const bool ok = fuzz::DecodeFromPoisonedBuffer(a, received);
    fuzz::Check(fuzz::DecodeFromExactCopy(b, {data, size}) == fuzz::UnitFits({data, size}));
    fuzz::Check(ok == fuzz::UnitFits(received));
    if (!ok) {
        fuzz::Check(a.command == 0 && a.word_count == 0 && a.byte_count == 0);
        return 0;
    }
    CDataBuffer out;
    a.Encode(out);
    const auto unit = received.first(fuzz::UnitSize(received));
    fuzz::Check(std::ranges::equal(out.Bytes(), unit));
    return 0;
}
