#include <gtest/gtest.h>

#include "platform/sync/event.h"

using platform::Event;

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
