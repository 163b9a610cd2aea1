#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "reception/port.h"

using namespace std::chrono;

namespace {

// A transport whose endpoint opens after a given number of failed attempts and which announces
// one conversation per Listen while open.
class FakePort : public CPort {
  public:
    FakePort(int fail_opens, int retry_ms) : CPort(retry_ms), fail_opens_(fail_opens) {}
    ~FakePort() override { Shutdown(); }

    bool TryOpen() override {
        ++attempts;
        opened_ = attempts > fail_opens_;
        return opened_;
    }
    void Close() override {
        closes++;
        opened_ = false;
    }
    void Listen() override {
        if (listens++ < 3) {
            Announce(std::make_unique<CConnection>(this));
        } else {
            thread().Sleep(10000);
        }
    }
    bool ReceiveData(CConnection* c, CDataBuffer& b) override {
        last_connection = c;
        b.Reset();
        b.WriteByte(42);
        return true;
    }
    void CloseConnection(CConnection* c) override { RemoveConnection(c); }

    std::atomic<int> attempts{0};
    std::atomic<int> listens{0};
    std::atomic<int> closes{0};
    CConnection* last_connection = nullptr;

  private:
    int fail_opens_;
};

template <class Pred>
bool WaitFor(Pred pred, milliseconds limit = milliseconds(5000)) {
    auto end = steady_clock::now() + limit;
    while (!pred()) {
        if (steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

}  // namespace

TEST(CPort, FailingOpenRetriesAtThePeriodAndStopsPromptly) {
    auto port = std::make_unique<FakePort>(1000, 100);
    port->Start();
    ASSERT_TRUE(WaitFor([&] { return port->attempts >= 3; }));
    EXPECT_FALSE(port->IsOpen());
    auto start = steady_clock::now();
    int before = port->attempts;
    port.reset();  // destroys within one pause, not after the whole retry schedule
    EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
    EXPECT_LE(before, 1000);
}

TEST(CPort, OpensThenAnnouncesEachConversationToBothHandlersInOrder) {
    FakePort port(2, 20);
    std::vector<std::string> calls;
    std::mutex m;
    port.accept_handler = [&](CConnection*) {
        std::lock_guard g(m);
        calls.push_back("accept");
    };
    port.connection_handler = [&](CConnection* c) {
        CDataBuffer b;
        EXPECT_TRUE(c->ReceiveData(b));  // forwarded to the port that made the connection
        EXPECT_EQ(port.last_connection, c);
        EXPECT_EQ(port.ConnectionCount(), 1u);
        c->Close();
        std::lock_guard g(m);
        calls.push_back("connection");
    };
    port.Start();
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard g(m);
        return calls.size() == 6;
    }));
    EXPECT_EQ(port.attempts, 3);
    EXPECT_EQ(calls[0], "accept");
    EXPECT_EQ(calls[1], "connection");
    EXPECT_EQ(port.ConnectionCount(), 0u);
    port.Stop();
}

TEST(CPort, UnknownConnectionRemovalIsHarmlessAndLeftoversGoWithThePort) {
    FakePort port(0, 20);
    CConnection stranger(&port);
    port.AddConnection(std::make_unique<CConnection>(&port));
    port.RemoveConnection(&stranger);
    EXPECT_EQ(port.ConnectionCount(), 1u);
    // A never-started port is destroyed at once; its leftover connection is released (ASan).
}
