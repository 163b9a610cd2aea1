// Decode and encode speed of every protocol data unit, in units per second.
#include <benchmark/benchmark.h>

#include <string>

#include "reception/mailslot/mailslot_pdu.h"
#include "reception/smb/smb_pdu.h"
#include "reception/smb/smb_pdu_sendend.h"
#include "reception/smb/smb_pdu_sends.h"
#include "reception/smb/smb_pdu_sendstrt.h"
#include "reception/smb/smb_pdu_sendtxt.h"

namespace {

const std::string kText = "Hello from smbclient\r\nsecond line äöü\r\n";
const std::string kLongText = std::string(200, 'x') + "äöü";

CSmbPdu_sends Single(const std::string& text) {
    CSmbPdu_sends pdu;
    pdu.Reset();
    pdu.origin = "ALICE";
    pdu.recipient = "BOB";
    pdu.text = text;
    return pdu;
}

CSmbPdu_sendstrt Start() {
    CSmbPdu_sendstrt pdu;
    pdu.Reset();
    pdu.origin = "sender";
    pdu.recipient = "testuser";
    return pdu;
}

CSmbPdu_sendtxt Text(const std::string& text) {
    CSmbPdu_sendtxt pdu;
    pdu.Reset();
    pdu.word_count = 1;
    pdu.words[0] = 1;
    pdu.text = text;
    return pdu;
}

CSmbPdu_sendend End() {
    CSmbPdu_sendend pdu;
    pdu.Reset();
    pdu.word_count = 1;
    pdu.words[0] = 1;
    return pdu;
}

// A single block message read as a plain unit: header, counts and data bytes only.
CSmbPdu Plain() {
    CDataBuffer buffer;
    Single(kText).Encode(buffer);
    CSmbPdu pdu;
    pdu.Decode(buffer);
    return pdu;
}

CMailslotPdu Datagram(const std::string& text) {
    CMailslotPdu pdu;
    pdu.origin = "SERVER01";
    pdu.recipient = "WORKGROUP";
    pdu.text = text;
    return pdu;
}

template <typename Pdu>
void Encode(benchmark::State& state, Pdu pdu) {
    CDataBuffer buffer;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pdu);
        pdu.Encode(buffer);
        benchmark::DoNotOptimize(buffer.Data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * buffer.Length());
}

template <typename Pdu>
void Decode(benchmark::State& state, Pdu pdu) {
    CDataBuffer buffer;
    pdu.Encode(buffer);
    Pdu out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(out.Decode(buffer));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * buffer.Length());
}

// The replies the receiver sends after every request.
void EncodeReply(benchmark::State& state) {
    CDataBuffer buffer;
    for (auto _ : state) {
        CSmbPdu_sendtxt reply;
        reply.Reset();
        reply.Encode(buffer);
        benchmark::DoNotOptimize(buffer.Data());
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(Encode, sends_40, Single(kText));
BENCHMARK_CAPTURE(Decode, sends_40, Single(kText));
BENCHMARK_CAPTURE(Encode, sends_203, Single(kLongText));
BENCHMARK_CAPTURE(Decode, sends_203, Single(kLongText));
BENCHMARK_CAPTURE(Encode, sendstrt, Start());
BENCHMARK_CAPTURE(Decode, sendstrt, Start());
BENCHMARK_CAPTURE(Encode, sendtxt_40, Text(kText));
BENCHMARK_CAPTURE(Decode, sendtxt_40, Text(kText));
BENCHMARK_CAPTURE(Encode, sendend, End());
BENCHMARK_CAPTURE(Decode, sendend, End());
BENCHMARK_CAPTURE(Encode, plain_header, Plain());
BENCHMARK_CAPTURE(Decode, plain_header, Plain());
BENCHMARK_CAPTURE(Encode, mailslot_40, Datagram(kText));
BENCHMARK_CAPTURE(Decode, mailslot_40, Datagram(kText));
BENCHMARK_CAPTURE(Encode, mailslot_380, Datagram(std::string(380 - 22, 'y')));
BENCHMARK_CAPTURE(Decode, mailslot_380, Datagram(std::string(380 - 22, 'y')));
BENCHMARK(EncodeReply);

BENCHMARK_MAIN();
