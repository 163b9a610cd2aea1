// The mailslot datagram: any bytes decode, the two entry points agree, and decoded fields survive
// a re-encoding whenever they fit the buffer.
#include "fuzz/pdu/watched_decode.h"
#include "reception/mailslot/mailslot_pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto received = fuzz::AsReceived(data, size);
    CMailslotPdu a;
    CMailslotPdu b;
    fuzz::Check(fuzz::DecodeFromPoisonedBuffer(a, received));
    fuzz::Check(fuzz::DecodeFromExactCopy(b, received));
    fuzz::Check(a.origin == b.origin && a.recipient == b.recipient && a.text == b.text);
    CDataBuffer out;
    a.Encode(out);
    CMailslotPdu again;
    fuzz::Check(again.Decode(out));
    if (out.Length() < CDataBuffer::kCapacity) {
        fuzz::Check(again.origin == a.origin && again.recipient == a.recipient &&
                    again.text == a.text);
    }
    return 0;
}
