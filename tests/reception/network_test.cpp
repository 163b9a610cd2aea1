#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "reception/network.h"

using namespace std::chrono;

namespace {

struct IdInterface : TlNetworkInterface {
    explicit IdInterface(int i) : id(i) {}
    int id;
};

// A network whose "machine" has the interfaces the test puts in present.
class FakeNetwork : public TlNetwork {
  public:
    explicit FakeNetwork(int period_ms) : TlNetwork(period_ms) {}
    ~FakeNetwork() override { StopScanning(); }

    void Scan() override {
        std::lock_guard g(machine_lock);
        ++scans;
        for (auto& i : current_) {
            i->stale = 1;
        }
        for (int id : present) {
            bool found = false;
            for (auto& i : current_) {
                if (static_cast<IdInterface&>(*i).id == id) {
                    i->stale = 0;
                    found = true;
                }
            }
            if (!found) {
                current_.push_back(std::make_unique<IdInterface>(id));
                changed_ = true;
            }
        }
        std::erase_if(current_, [&](auto& i) {
            bool gone = i->stale == 1;
            changed_ = changed_ || gone;
            return gone;
        });
    }

    void SetPresent(std::set<int> ids) {
        std::lock_guard g(machine_lock);
        present = std::move(ids);
    }
    int ScanCount() {
        std::lock_guard g(machine_lock);
        return scans;
    }

  private:
    std::mutex machine_lock;
    std::set<int> present;
    int scans = 0;
};

void WaitScans(FakeNetwork& n, int count) {
    auto end = steady_clock::now() + seconds(10);
    while (n.ScanCount() < count && steady_clock::now() < end) {
        std::this_thread::sleep_for(milliseconds(2));
    }
}

}  // namespace

TEST(TlNetwork, ListenerFiresOnceForTheFirstScanThenOncePerChange) {
    FakeNetwork net(10);
    std::atomic<int> calls{0};
    std::atomic<int> seen_size{-1};
    net.SetListener([&] {
        // Called outside the lock: the listener may read the list itself.
        std::lock_guard g(net.lock());
        seen_size = static_cast<int>(net.current().size());
        ++calls;
    });
    net.SetPresent({1, 2});
    net.Start();
    WaitScans(net, 5);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen_size, 2);

    net.SetPresent({1, 2, 3});
    int now = net.ScanCount();
    WaitScans(net, now + 3);
    EXPECT_EQ(calls, 2);

    net.SetPresent({3});  // two removed in one scan: one notice
    now = net.ScanCount();
    WaitScans(net, now + 3);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(seen_size, 1);
}

TEST(TlNetwork, EmptyMachineNeverCallsTheListener) {
    FakeNetwork net(5);
    std::atomic<int> calls{0};
    net.SetListener([&] { ++calls; });
    net.Start();
    WaitScans(net, 5);
    EXPECT_EQ(calls, 0);
}

TEST(TlNetwork, DestructionDuringTheLongSleepReturnsWithinOneWait) {
    auto net = std::make_unique<FakeNetwork>(TlNetwork::kScanPeriodMs);
    net->SetListener([] {});
    net->Start();
    WaitScans(*net, 1);
    auto start = steady_clock::now();
    net.reset();
    EXPECT_LT(steady_clock::now() - start, milliseconds(2500));

    FakeNetwork never_started(TlNetwork::kScanPeriodMs);  // releases nothing, returns at once
}
