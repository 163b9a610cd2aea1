// Send text of multi-block message: decoding is safe, agrees between the two entry points, and a
// text block (never above 255 bytes) survives a re-encoding.
#include "fuzz/pdu/watched_decode.h"
#include "reception/smb/smb_pdu_sendtxt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto received = fuzz::AsReceived(data, size);
    CSmbPdu_sendtxt a;
    CSmbPdu_sendtxt b;
    const bool ok = fuzz::DecodeFromPoisonedBuffer(a, received);
    fuzz::Check(fuzz::DecodeFromExactCopy(b, received) == ok);
    fuzz::Check(a.text == b.text);
    if (!ok) {
        return 0;
    }
    CDataBuffer out;
    a.Encode(out);
    CSmbPdu_sendtxt again;
    fuzz::Check(again.Decode(out));
    fuzz::Check(again.text == a.text);
    return 0;
}
