// The desktop side of arrivals: how long a message takes from its port thread to a popup on
// screen, how fast arrivals may come before the desktop falls behind (and how long the
// user-interface thread is ever kept busy meanwhile), and the resident memory after 10,000
// messages. Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise (for example
// xcb under Xvfb, which includes the X server's work). No reception is started.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include "archive/array_data_set.h"
#include "desktop/main_form.h"
#include "ui/popup_msg_form.h"

namespace {

using Clock = std::chrono::steady_clock;

// A main window without reception, on an archive of its own.
struct Desk {
    QTemporaryDir config;
    TlArrayDataSet archive;
    std::mutex lock;
    std::unique_ptr<CMainForm> form;

    Desk() {
        CMainForm::Options options;
        options.start_reception = false;
        options.hive = platform::registry::Hive(config.path().toStdString());
        options.program_path = "/usr/bin/tolvane";
        options.archive = &archive;
        options.archive_lock = &lock;
        form = std::make_unique<CMainForm>(std::move(options));
    }
    int Count() {
        std::lock_guard guard(lock);
        return archive.GetCount();
    }
};

// A realistic message: a sender, a recipient and about a hundred characters of text.
ReceivedMessage Message(int n) {
    ReceivedMessage m;
    m.kind = n % 5 == 0 ? MessageKind::Broadcast : MessageKind::Personal;
    m.origin = "WS-" + std::to_string(n % 97);
    m.recipient = "JSMITH";
    m.text = "Message " + std::to_string(n) +
             ": the build on the integration server finished, please check the results before "
             "the meeting.";
    return m;
}

std::size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[index];
}

// Times the longest stretch in which the user-interface thread did not get to a 5 ms timer:
// how long the desktop is kept waiting at worst.
class StallMeter {
  public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        last_ = Clock::now();
        timer_.start(5);
    }
    double WorstMs() const { return worst_ms_; }

  private:
    void Tick() {
        const auto now = Clock::now();
        worst_ms_ = std::max(worst_ms_,
                             std::chrono::duration<double, std::milli>(now - last_).count() - 5.0);
        last_ = now;
    }
    QTimer timer_;
    Clock::time_point last_;
    double worst_ms_ = 0;
};

// Resident memory after 10,000 messages, then after 10,000 more: the growth should be the
// archive's and nothing else's.
void BM_ResidentMemory(benchmark::State& state) {
    for (auto _ : state) {
        Desk desk;
        auto deliver = [&](int from, int count) {
            std::thread port([&] {
                for (int i = from; i < from + count; ++i) {
                    desk.form->OnMessageReceived(Message(i));
                    if (i % 50 == 0) {
                        std::this_thread::sleep_for(std::chrono::microseconds(200));
                    }
                }
            });
            while (port.joinable()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                if (desk.Count() == from + count) {
                    port.join();
                }
            }
            for (int i = 0; i < 10; ++i) {
                QCoreApplication::processEvents();
            }
        };
        deliver(0, 200);  // warm up fonts, pictures and the popup's first creation
        const std::size_t base = ResidentBytes();
        deliver(200, 10000);
        const std::size_t after_10k = ResidentBytes();
        deliver(10200, 10000);
        const std::size_t after_20k = ResidentBytes();
        std::size_t payload = 0;
        for (int i = 200; i < 10200; ++i) {
            const ReceivedMessage m = Message(i);
            payload += m.origin.size() + m.recipient.size() + m.text.size();
        }
        state.counters["rss_MiB"] = static_cast<double>(after_10k) / (1024.0 * 1024.0);
        state.counters["growth_per_msg_B"] = static_cast<double>(after_10k - base) / 10000.0;
        state.counters["next10k_per_msg_B"] = static_cast<double>(after_20k - after_10k) / 10000.0;
        state.counters["payload_per_msg_B"] = static_cast<double>(payload) / 10000.0;
        state.counters["popups"] = static_cast<double>(desk.form->ArrivalsHandled());
    }
}
BENCHMARK(BM_ResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// Replacing the popup, as every arrival and every click on the tray icon does.
void BM_ShowPopup(benchmark::State& state) {
    Desk desk;
    desk.form->OnMessageReceived(Message(1));
    QCoreApplication::processEvents();
    for (auto _ : state) {
        desk.form->ShowPopup();
    }
    QCoreApplication::processEvents();
}
BENCHMARK(BM_ShowPopup)->Unit(benchmark::kMicrosecond);

// One message from a port thread to a popup showing it, one at a time.
void BM_ArrivalToPopupShown(benchmark::State& state) {
    Desk desk;
    std::binary_semaphore go(0);
    std::atomic<bool> stop{false};
    std::atomic<Clock::rep> sent{0};
    int n = 0;
    std::thread port([&] {
        for (;;) {
            go.acquire();
            if (stop) {
                return;
            }
            sent = Clock::now().time_since_epoch().count();
            desk.form->OnMessageReceived(Message(n));
        }
    });
    std::vector<double> samples;
    for (auto _ : state) {
        QEventLoop loop;
        QObject::connect(desk.form.get(), &CMainForm::popupShown, &loop, &QEventLoop::quit);
        ++n;
        go.release();
        loop.exec();
        const auto shown = Clock::now().time_since_epoch().count();
        const double seconds = std::chrono::duration<double>(Clock::duration(shown - sent)).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e6);
    }
    stop = true;
    go.release();
    port.join();
    state.counters["p50_us"] = Percentile(samples, 0.50);
    state.counters["p99_us"] = Percentile(samples, 0.99);
    state.counters["max_us"] = Percentile(samples, 1.0);
}
BENCHMARK(BM_ArrivalToPopupShown)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

// Arrivals at a steady rate (messages per second, the argument) for two seconds from four port
// threads: the latency from each arrival to a popup showing it or a newer message, and the
// longest the desktop waited for the user-interface thread.
void BM_PacedArrivals(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    constexpr int kThreads = 4;
    constexpr double kSeconds = 2.0;
    const int total = static_cast<int>(rate * kSeconds);
    for (auto _ : state) {
        Desk desk;
        std::vector<Clock::time_point> sent(static_cast<std::size_t>(total));
        std::vector<double> latency_ms;
        latency_ms.reserve(sent.size());
        int shown_up_to = 0;  // messages [0, shown_up_to) have been on screen
        QObject::connect(desk.form.get(), &CMainForm::popupShown, [&] {
            const auto now = Clock::now();
            const int newest = desk.Count();
            for (; shown_up_to < newest; ++shown_up_to) {
                latency_ms.push_back(
                    std::chrono::duration<double, std::milli>(now - sent[shown_up_to]).count());
            }
        });
        StallMeter stalls;
        std::atomic<int> next{0};
        std::mutex order;  // keeps archive order and send stamps in step
        const auto start = Clock::now();
        std::vector<std::thread> ports;
        for (int t = 0; t < kThreads; ++t) {
            ports.emplace_back([&] {
                for (;;) {
                    std::unique_lock guard(order);
                    const int i = next.fetch_add(1);
                    if (i >= total) {
                        return;
                    }
                    std::this_thread::sleep_until(start +
                                                  std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(i) / rate));
                    sent[static_cast<std::size_t>(i)] = Clock::now();
                    desk.form->OnMessageReceived(Message(i));
                }
            });
        }
        while (shown_up_to < total) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        for (std::thread& port : ports) {
            port.join();
        }
        state.counters["p50_ms"] = Percentile(latency_ms, 0.50);
        state.counters["p99_ms"] = Percentile(latency_ms, 0.99);
        state.counters["worst_stall_ms"] = stalls.WorstMs();
        state.counters["popups"] = static_cast<double>(desk.form->ArrivalsHandled());
    }
}
BENCHMARK(BM_PacedArrivals)
    ->Arg(100)
    ->Arg(500)
    ->Arg(2000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// As fast as four port threads can deliver: how many arrivals per second the desktop takes in
// (all archived, the last one on screen), and how long it was ever unresponsive.
void BM_Flood(benchmark::State& state) {
    const int total = static_cast<int>(state.range(0));
    constexpr int kThreads = 4;
    for (auto _ : state) {
        Desk desk;
        StallMeter stalls;
        std::atomic<int> next{0};
        const auto start = Clock::now();
        std::vector<std::thread> ports;
        for (int t = 0; t < kThreads; ++t) {
            ports.emplace_back([&] {
                for (int i; (i = next.fetch_add(1)) < total;) {
                    desk.form->OnMessageReceived(Message(i));
                }
            });
        }
        for (;;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            if (next.load() >= total && desk.Count() == total && desk.form->popup() != nullptr) {
                // Done when the popup shows the newest record.
                QCoreApplication::processEvents();
                CPopupMsgForm* popup = desk.form->popup();
                std::string newest;
                {
                    std::lock_guard guard(desk.lock);
                    newest = desk.archive.GetField(desk.archive.GetLastIndex(), "Message").AsText();
                }
                if (popup->ShownText().endsWith(QString::fromStdString(newest))) {
                    break;
                }
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        for (std::thread& port : ports) {
            port.join();
        }
        state.SetIterationTime(seconds);
        state.counters["arrivals_per_s"] = total / seconds;
        state.counters["popups"] = static_cast<double>(desk.form->ArrivalsHandled());
        state.counters["worst_stall_ms"] = stalls.WorstMs();
    }
}
BENCHMARK(BM_Flood)->Arg(10000)->Arg(100000)->UseManualTime()->Iterations(1)->Unit(
    benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    benchmark::Initialize(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
