// Send start of multi-block message: decoding is safe, agrees between the two entry points, and
// the names survive a re-encoding whenever they fit.
#include "fuzz/pdu/watched_decode.h"
#include "reception/smb/smb_pdu_sendstrt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto received = fuzz::AsReceived(data, size);
    CSmbPdu_sendstrt a;
    CSmbPdu_sendstrt b;
    const bool ok = fuzz::DecodeFromPoisonedBuffer(a, received);
    fuzz::Check(fuzz::DecodeFromExactCopy(b, received) == ok);
    fuzz::Check(a.origin == b.origin && a.recipient == b.recipient);
    if (!ok || a.origin.empty() || a.recipient.empty()) {
        return 0;
    }
    CDataBuffer out;
    a.Encode(out);
    CSmbPdu_sendstrt again;
    fuzz::Check(again.Decode(out));
    if (out.Length() < CDataBuffer::kCapacity) {
        fuzz::Check(again.origin == a.origin && again.recipient == a.recipient);
    }
    return 0;
}
