#include <gtest/gtest.h>

#include <thread>

#include "platform/sync/event.h"

using platform::Event;
using platform::WaitAny;

TEST(Event, ManualResetStaysSetAndAutoResetIsConsumedByOneWait) {
    Event manual(Event::Mode::ManualReset);
    manual.Set();
    EXPECT_TRUE(manual.IsSet());
    EXPECT_TRUE(manual.IsSet());
    manual.Clear();
    EXPECT_FALSE(manual.IsSet());

    Event automatic(Event::Mode::AutoReset);
    automatic.Set();
    automatic.Set();  // two sets before a wait count once, as a boolean event does
    EXPECT_TRUE(automatic.IsSet());
    EXPECT_FALSE(automatic.IsSet());
}

TEST(Event, WaitAnyReportsLowestSignalledIndexOrTimeout) {
    Event a(Event::Mode::ManualReset), b(Event::Mode::AutoReset);
    Event* both[] = {&a, &b};
    EXPECT_EQ(WaitAny(both, 20), platform::kWaitTimeout);
    std::thread setter([&] { b.Set(); });
    EXPECT_EQ(WaitAny(both, platform::kInfinite), 1);
    setter.join();
    a.Set();
    b.Set();
    EXPECT_EQ(WaitAny(both, 0), 0);
}
