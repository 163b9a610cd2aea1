#include <gtest/gtest.h>

#include "reception/thread.h"

// A worker's waits end on its own handles first, then on the stop request, then on time.
TEST(TlThread, WaitTellsCallerHandlesFromStopAndTimeout) {
    TlThread t;
    platform::Event mine(platform::Event::Mode::AutoReset);
    platform::Event* handles[] = {&mine};
    EXPECT_FALSE(t.Wait(handles, 10)) << "time-out";
    mine.Set();
    EXPECT_TRUE(t.Wait(handles, platform::kInfinite)) << "caller's handle";
    t.RequestStop();
    EXPECT_FALSE(t.Wait(handles, platform::kInfinite)) << "stop event";
    mine.Set();
    EXPECT_TRUE(t.Wait(handles, 0)) << "caller's handles come before the stop event";
}
