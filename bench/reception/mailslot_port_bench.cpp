// Datagrams through a mailslot port: how long one takes from the write to the handler, and how
// many a second a burst delivers.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/mailslot/mailslot.h"
#include "reception/mailslot/mailslot.h"

namespace {

namespace ms = platform::mailslot;
using Clock = std::chrono::steady_clock;

struct Delivery {
    std::mutex m;
    std::condition_variable cv;
    std::size_t count = 0;

    void Attach(CMailslot& port) {
        port.connection_handler = [this](CConnection* c) {
            CDataBuffer b;
            c->ReceiveData(b);
            c->Close();
            std::lock_guard g(m);
            ++count;
            cv.notify_all();
        };
    }
    bool WaitFor(std::size_t n) {
        std::unique_lock g(m);
        return cv.wait_for(g, std::chrono::seconds(30), [&] { return count >= n; });
    }
};

std::string Name() {
    return "BENCH" + std::to_string(::getpid());
}

void OpenPort(CMailslot& port) {
    port.Start();
    while (!port.IsOpen()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void WriteRetrying(ms::Writer& writer, const std::vector<std::uint8_t>& d) {
    while (writer.Write(d) == ms::WriteResult::WouldBlock) {
        std::this_thread::yield();
    }
}

// One datagram at a time, each after a pause of range(0) ms: the port waits on its mailslot, so
// the latency is the same after a long pause as right after a delivery.
void BM_WriteToDeliveryLatency(benchmark::State& state) {
    CMailslot port(Name(), 50, CMailslot::kPollMs);
    Delivery delivery;
    delivery.Attach(port);
    OpenPort(port);
    auto writer = ms::Writer::Open(port.name());
    std::vector<std::uint8_t> d(120, 'x');
    std::size_t sent = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(state.range(0)));
        auto start = Clock::now();
        writer->Write(d);
        delivery.WaitFor(++sent);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}
BENCHMARK(BM_WriteToDeliveryLatency)
    ->Arg(0)
    ->Arg(150)
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);

// A burst of 400-byte datagrams written as fast as the socket takes them.
void BM_BurstThroughput(benchmark::State& state) {
    CMailslot port(Name(), 50, 100);
    Delivery delivery;
    delivery.Attach(port);
    OpenPort(port);
    auto writer = ms::Writer::Open(port.name());
    std::vector<std::uint8_t> d(400, 'y');
    const auto burst = static_cast<std::size_t>(state.range(0));
    std::size_t sent = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < burst; ++i) {
            WriteRetrying(*writer, d);
        }
        sent += burst;
        delivery.WaitFor(sent);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(sent));
}
BENCHMARK(BM_BurstThroughput)->Arg(1000)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
