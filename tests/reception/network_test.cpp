#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "reception/network.h"

namespace {

// A network whose scans change the list as the script says.
class ScriptedNetwork : public TlNetwork {
  public:
    ScriptedNetwork(std::vector<bool> script, int period_ms)
        : TlNetwork(period_ms), script_(std::move(script)) {}
    ~ScriptedNetwork() override { StopScanning(); }
    void Scan() override {
        changed_ = scans < script_.size() && script_[scans];
        ++scans;
    }
    std::atomic<std::size_t> scans{0};

  private:
    std::vector<bool> script_;
};

}  // namespace

// The listener hears of each scan that changed the list, and of no other, outside the lock; a
// network asleep for an hour is destroyed at once: a stop ends a worker's wait (waiting out the
// sleep would hang the test).
TEST(TlNetwork, TheListenerHearsOfEachChangedScanOutsideTheLock) {
    ScriptedNetwork net({false, true, false, false, true, true, false}, 1);
    std::atomic<int> calls{0};
    net.SetListener([&] {
        std::lock_guard g(net.lock());
        ++calls;
    });
    net.Start();
    while (net.scans < 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(calls, 3);

    ScriptedNetwork asleep({true}, 3600 * 1000);
    asleep.SetListener([] {});
    asleep.Start();
    while (asleep.scans < 1) {
        std::this_thread::yield();
    }
}
