// Appending to the message archive: records per second, and the heap bytes each record costs
// against its text payload (target: under twice the payload plus 64 bytes).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "archive/archive.h"

namespace {

// Messages as people send them: a few words to a few lines.
const std::array<std::string, 6> kTexts = {
    "Lunch?",
    "Server BACKUP01 will restart at 18:00, please save your work.",
    "The printer on the second floor is out of toner again. Who ordered the last cartridge?",
    "Meeting moved to room 4.12 at 14:30.\r\nBring the quarterly figures and the draft budget.",
    "Reminder: the network will be down on Saturday from 08:00 to 12:00 for maintenance of the "
    "core switches. Remote access will not be available during that time. Thank you.",
    "Bitte alle Rechner bis 17 Uhr herunterfahren, Grüße aus der IT.",
};
const std::array<std::string, 4> kOrigins = {"WORKSTATION-07", "ADMIN", "PRINTSRV", "J.SMITH"};
const std::array<std::string, 3> kRecipients = {"JDOE", "ACCOUNTING-PC3", "*"};

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

void BM_AppendMillion(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::mutex lock;
    double bytes_per_record = 0;
    double payload_per_record = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::size_t payload = 0;
        const std::size_t before = HeapInUse();
        auto set = std::make_unique<TlArrayDataSet>();
        state.ResumeTiming();
        for (std::size_t i = 0; i < count; ++i) {
            ArchivedMessage m;
            m.type = i % 5 == 0 ? 2 : 1;
            m.origin = kOrigins[i % kOrigins.size()];
            m.recipient = kRecipients[i % kRecipients.size()];
            m.message = kTexts[i % kTexts.size()];
            m.received = 133'000'000'000'000'000 + static_cast<std::int64_t>(i);
            payload += m.origin.size() + m.recipient.size() + m.message.size();
            ArchiveMessage(*set, lock, m);
        }
        state.PauseTiming();
        benchmark::DoNotOptimize(set->GetCount());
        bytes_per_record = static_cast<double>(HeapInUse() - before) / static_cast<double>(count);
        payload_per_record = static_cast<double>(payload) / static_cast<double>(count);
        set.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
    state.counters["bytes_per_record"] = bytes_per_record;
    state.counters["payload_per_record"] = payload_per_record;
    state.counters["target_bytes_per_record"] = 2 * payload_per_record + 64;
}
BENCHMARK(BM_AppendMillion)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Paging back through a full archive and reading the shown fields, as the popup does.
void BM_PageAndRead(benchmark::State& state) {
    TlArrayDataSet set;
    std::mutex lock;
    for (int i = 0; i < 100'000; ++i) {
        ArchiveMessage(set, lock,
                       {1, kOrigins[0], kRecipients[0],
                        kTexts[static_cast<std::size_t>(i) % kTexts.size()], i});
    }
    set.MoveLast();
    for (auto _ : state) {
        std::lock_guard guard(lock);
        set.MovePrev();
        if (set.GetCurrent() == 0) {
            set.MoveLast();
        }
        const int i = set.GetCurrent();
        benchmark::DoNotOptimize(set.GetField(i, archive_field::kOrigin));
        benchmark::DoNotOptimize(set.GetField(i, archive_field::kRecipient));
        benchmark::DoNotOptimize(set.GetField(i, archive_field::kMessage));
        benchmark::DoNotOptimize(set.GetField(i, archive_field::kReceived));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PageAndRead);

}  // namespace

BENCHMARK_MAIN();
