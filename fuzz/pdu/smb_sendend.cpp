// Send end of multi-block message: decoding is safe and agrees between the two entry points.
#include <algorithm>

#include "fuzz/pdu/watched_decode.h"
#include "reception/smb/smb_pdu_sendend.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto received = fuzz::AsReceived(data, size);
    CSmbPdu_sendend a;
    CSmbPdu_sendend b;
    const bool ok = fuzz::DecodeFromPoisonedBuffer(a, received);
    fuzz::Check(fuzz::DecodeFromExactCopy(b, received) == ok);
    if (!ok) {
        return 0;
    }
    CDataBuffer out_a;
    CDataBuffer out_b;
    a.Encode(out_a);
    b.Encode(out_b);
    fuzz::Check(std::ranges::equal(out_a.Bytes(), out_b.Bytes()));
    return 0;
}
