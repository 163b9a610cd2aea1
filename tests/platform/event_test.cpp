#include <gtest/gtest.h>

#include <thread>

#include "platform/sync/event.h"

using platform::Event;

TEST(Event, ManualResetStaysSetAndAutoResetIsConsumedByOneWait) {
    Event manual(Event::Mode::ManualReset);
    Event* waited[] = {&manual};
    manual.Set();
    manual.Set();
    EXPECT_TRUE(manual.IsSet());
    EXPECT_TRUE(manual.IsSet());
    manual.Clear();
    EXPECT_FALSE(manual.IsSet());
    EXPECT_EQ(platform::WaitAny(waited, 0),
              platform::kWaitTimeout);  // one clearing undoes any number of sets
    // Set and cleared from two threads at once, what it tells and what a wait sees agree.
    std::thread setter([&] {
        for (int i = 0; i < 20000; ++i) {
            manual.Set();
        }
    });
    for (int i = 0; i < 20000; ++i) {
        manual.Clear();
    }
    setter.join();
    EXPECT_EQ(manual.IsSet(), platform::WaitAny(waited, 0) == 0);

    Event automatic(Event::Mode::AutoReset);
    automatic.Set();
    automatic.Set();  // two sets before a wait count once, as a boolean event does
    EXPECT_TRUE(automatic.IsSet());
    EXPECT_FALSE(automatic.IsSet());
}
