#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/mailslot/mailslot.h"
#include "reception/mailslot/mailslot.h"

using namespace std::chrono;
namespace ms = platform::mailslot;

namespace {

// Abstract socket names are per network namespace: each run gets names of its own.
std::string UniqueName(const char* base) {
    return std::string(base) + std::to_string(::getpid());
}

// A started port on the name, collecting each datagram the way the reception service reads it.
// Its poll interval is far beyond every wait here: what arrives must wake the port.
struct Collector {
    std::mutex m;
    std::vector<std::vector<std::uint8_t>> got;
    CMailslot port;

    explicit Collector(const std::string& name)
        : port(name, /*open_retry_ms=*/30, /*poll_ms=*/3'600'000) {
        port.connection_handler = [this](CConnection* c) {
            CDataBuffer b;
            const bool ok = c->ReceiveData(b);
            c->Close();
            std::lock_guard g(m);
            if (ok) {
                got.emplace_back(b.Bytes().begin(), b.Bytes().end());
            }
        };
        port.Start();
    }
    bool Wait(const std::function<bool()>& done) {
        for (auto end = steady_clock::now() + seconds(10); steady_clock::now() < end;) {
            {
                std::lock_guard g(m);
                if (done()) {
                    return true;
                }
            }
            std::this_thread::sleep_for(milliseconds(5));
        }
        return false;
    }
    bool WaitCount(std::size_t n) {
        return Wait([&] { return got.size() >= n; });
    }
};

}  // namespace

TEST(CMailslot, SecondOwnerRetriesUntilTheFirstClosesThenDelivers) {
    const auto name = UniqueName("MSPORT");
    auto squatter = ms::Mailslot::Create(name, 400);
    ASSERT_TRUE(squatter);
    Collector c(name);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_FALSE(c.port.IsOpen());
    squatter.reset();
    ASSERT_TRUE(c.Wait([&] { return c.port.IsOpen(); }));
    std::uint8_t hello[] = {'h', 'i'};
    ASSERT_EQ(ms::Write(name, hello), ms::WriteResult::Written);
    ASSERT_TRUE(c.WaitCount(1));
    EXPECT_EQ(c.got[0], std::vector<std::uint8_t>(hello, hello + 2));

    // Datagrams now arrive elsewhere: the waiting port makes its mailslot anew at once, unasked.
    std::atomic<int> made{0};
    ms::SetProvider([&made](std::string_view n, std::size_t size) {
        auto m = ms::Mailslot::CreateHere(n, size);
        made += m ? 1 : 0;  // the old one may still hold the name at the first try
        return m;
    });
    ASSERT_TRUE(c.Wait([&] { return made > 0; }));
    ASSERT_EQ(ms::Write(name, hello), ms::WriteResult::Written);
    ASSERT_TRUE(c.WaitCount(2));
    ms::SetProvider(nullptr);
}

TEST(CMailslot, BurstArrivesWholeInOrderAndWithoutLoss) {
    const auto name = UniqueName("MSBURST");
    Collector c(name);
    ASSERT_TRUE(c.Wait([&] { return c.port.IsOpen(); }));
    auto writer = ms::Writer::Open(name);
    ASSERT_TRUE(writer);
    constexpr int kCount = 40;
    for (int i = 0; i < kCount; ++i) {
        std::vector<std::uint8_t> d(400, static_cast<std::uint8_t>(i));
        ms::WriteResult r;
        // The kernel queues only a few datagrams per socket: a writer that finds it full retries.
        while ((r = writer->Write(d)) == ms::WriteResult::WouldBlock) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        ASSERT_EQ(r, ms::WriteResult::Written);
    }
    ASSERT_TRUE(c.WaitCount(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(c.got[i], std::vector<std::uint8_t>(400, static_cast<std::uint8_t>(i)));
    }
}
