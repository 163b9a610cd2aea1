#include <gtest/gtest.h>

#include <atomic>

#include "reception/thread.h"

// Stops end a worker within one wait: a worker sleeping for an hour still ends at once (a stop
// that waited for the sleep would hang the test until its time-out).
namespace {

struct Worker {
    std::atomic<int> turns{0};
    std::atomic<bool> ended{false};
    void SleepLoop(TlThread* t) {
        while (!t->IsStopRequested()) {
            ++turns;
            t->Sleep(3600 * 1000);
        }
        ended = true;
    }
};

}  // namespace

TEST(TlThread, StopEndsAWorkerInsideItsLongSleepAndIsHarmlessWhenIdle) {
    TlThreadClassFunction<Worker> idle;
    idle.Stop();

    Worker w;
    TlThreadClassFunction<Worker> thread;
    thread.function = &Worker::SleepLoop;
    thread.object = &w;
    ASSERT_TRUE(thread.CreateThread());
    while (w.turns == 0) {
        std::this_thread::yield();
    }
    thread.Stop();
    EXPECT_TRUE(w.ended);
    thread.Stop();
    EXPECT_FALSE(thread.CreateThread()) << "a thread object is started at most once";
}

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
