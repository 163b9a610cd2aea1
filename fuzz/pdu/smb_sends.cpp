// Send single block message: decoding is safe, agrees between the two entry points, and what
// decodes re-encodes to the same strings whenever they fit and are encoded at all.
#include "fuzz/pdu/watched_decode.h"
#include "reception/smb/smb_pdu_sends.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto received = fuzz::AsReceived(data, size);
    CSmbPdu_sends a;
    CSmbPdu_sends b;
    const bool ok = fuzz::DecodeFromPoisonedBuffer(a, received);
    fuzz::Check(fuzz::DecodeFromExactCopy(b, received) == ok);
    fuzz::Check(a.origin == b.origin && a.recipient == b.recipient && a.text == b.text);
    if (!ok || a.origin.empty() || a.recipient.empty()) {
        return 0;
    }
    CDataBuffer out;
    a.Encode(out);
    CSmbPdu_sends again;
    fuzz::Check(again.Decode(out));
    if (out.Length() < CDataBuffer::kCapacity) {
        fuzz::Check(again.origin == a.origin && again.recipient == a.recipient &&
                    again.text == a.text);
    }
    return 0;
}
