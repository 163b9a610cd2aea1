#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/mailslot/mailslot.h"
#include "reception/mailslot/mailslot.h"

using namespace std::chrono;
namespace ms = platform::mailslot;

namespace {

std::string UniqueName(const char* base) {
    return std::string(base) + std::to_string(::getpid());
}

// Collects what the port announces, reading each datagram the way the reception service does.
struct Collector {
    std::mutex m;
    std::vector<std::vector<std::uint8_t>> got;

    void Attach(CMailslot& port) {
        port.connection_handler = [this](CConnection* c) {
            CDataBuffer b;
            bool ok = c->ReceiveData(b);
            c->Close();
            std::lock_guard g(m);
            if (ok) {
                got.emplace_back(b.Bytes().begin(), b.Bytes().end());
            }
        };
    }
    std::size_t Count() {
        std::lock_guard g(m);
        return got.size();
    }
    bool WaitCount(std::size_t n) {
        auto end = steady_clock::now() + seconds(10);
        while (Count() < n && steady_clock::now() < end) {
            std::this_thread::sleep_for(milliseconds(5));
        }
        return Count() >= n;
    }
};

}  // namespace

TEST(CMailslot, SecondOwnerRetriesUntilTheFirstClosesThenDelivers) {
    auto name = UniqueName("MSPORT");
    auto squatter = ms::Mailslot::Create(name, 400);
    ASSERT_TRUE(squatter);
    std::uint8_t stale[] = {'o', 'l', 'd'};
    ASSERT_EQ(ms::Write(name, stale), ms::WriteResult::Written);

    Collector c;
    CMailslot port(name, /*open_retry_ms=*/30, /*poll_ms=*/10);
    c.Attach(port);
    port.Start();
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_FALSE(port.IsOpen());

    squatter.reset();  // the name frees; the datagram that waited there is gone with it
    auto end = steady_clock::now() + seconds(5);
    while (!port.IsOpen() && steady_clock::now() < end) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    ASSERT_TRUE(port.IsOpen());
    std::uint8_t hello[] = {'h', 'i'};
    ASSERT_EQ(ms::Write(name, hello), ms::WriteResult::Written);
    ASSERT_TRUE(c.WaitCount(1));
    EXPECT_EQ(c.got[0], std::vector<std::uint8_t>(hello, hello + 2));
}

TEST(CMailslot, BurstArrivesWholeInOrderAndWithoutLoss) {
    auto name = UniqueName("MSBURST");
    Collector c;
    CMailslot port(name, 30, 10);
    c.Attach(port);
    port.Start();
    auto end = steady_clock::now() + seconds(5);
    while (!port.IsOpen() && steady_clock::now() < end) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    ASSERT_TRUE(port.IsOpen());

    auto writer = ms::Writer::Open(name);
    ASSERT_TRUE(writer);
    const int kCount = 40;
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
        ASSERT_EQ(c.got[i].size(), 400u);
        EXPECT_EQ(c.got[i][0], i);
        EXPECT_EQ(c.got[i][399], i);
    }
}

TEST(CMailslot, ConnectWritesToThisComputersMailslotOnly) {
    auto name = UniqueName("MSCONN");
    CMailslot port(name, 30, 10);
    Collector c;
    c.Attach(port);
    port.Start();
    auto end = steady_clock::now() + seconds(5);
    while (!port.IsOpen() && steady_clock::now() < end) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    CMailslot sender(name);
    CConnection* out = sender.Connect(".");
    ASSERT_NE(out, nullptr);
    CDataBuffer b;
    b.WriteByte('x');
    EXPECT_TRUE(out->SendData(b));
    out->Close();
    EXPECT_EQ(sender.Connect("SOME-OTHER-HOST-THAT-IS-NOT-US"), nullptr);
    ASSERT_TRUE(c.WaitCount(1));
    EXPECT_EQ(c.got[0], std::vector<std::uint8_t>{'x'});
}
