#include <gtest/gtest.h>

#include <thread>

#include "platform/sync/event.h"

using platform::Event;
using platform::WaitAny;

TEST(Event, ManualResetStaysSignalledUntilCleared) {
    Event e(Event::Mode::ManualReset);
    EXPECT_FALSE(e.IsSet());
    e.Set();
    e.Set();
    EXPECT_TRUE(e.IsSet());
    EXPECT_TRUE(e.IsSet());
    e.Clear();
    EXPECT_FALSE(e.IsSet());
}

TEST(Event, AutoResetIsConsumedByOneWait) {
    Event e(Event::Mode::AutoReset);
    e.Set();
    e.Set();  // two sets before a wait count once, as a boolean event does
    EXPECT_TRUE(e.IsSet());
    EXPECT_FALSE(e.IsSet());
}

TEST(Event, WaitAnyReportsLowestSignalledIndexOrTimeout) {
    Event a(Event::Mode::ManualReset), b(Event::Mode::AutoReset);
    Event* both[] = {&a, &b};
    EXPECT_EQ(WaitAny(both, 0), platform::kWaitTimeout);
    EXPECT_EQ(WaitAny(both, 20), platform::kWaitTimeout);
    b.Set();
    EXPECT_EQ(WaitAny(both, platform::kInfinite), 1);
    a.Set();
    b.Set();
    EXPECT_EQ(WaitAny(both, 0), 0);
}

TEST(Event, WaitAnyWakesOnSetFromAnotherThread) {
    Event e(Event::Mode::AutoReset);
    Event* one[] = {&e};
    std::thread setter([&] { e.Set(); });
    EXPECT_EQ(WaitAny(one, 10000), 0);
    setter.join();
}
