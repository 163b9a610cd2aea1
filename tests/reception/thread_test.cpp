#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "reception/thread.h"

using namespace std::chrono;

namespace {

struct Worker {
    std::atomic<int> turns{0};
    std::atomic<bool> ended{false};
    void SleepLoop(TlThread* t) {
        while (!t->IsStopRequested()) {
            ++turns;
            t->Sleep(5000);
        }
        ended = true;
    }
    void Quick(TlThread*) { ended = true; }
};

}  // namespace

TEST(TlThread, StopEndsAWorkerInsideItsLongSleep) {
    Worker w;
    TlThreadClassFunction<Worker> thread;
    thread.function = &Worker::SleepLoop;
    thread.object = &w;
    ASSERT_TRUE(thread.CreateThread());
    while (w.turns == 0) {
        std::this_thread::yield();
    }
    auto start = steady_clock::now();
    thread.Stop();
    EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
    EXPECT_TRUE(w.ended);
    thread.Stop();  // a second stop is harmless
    EXPECT_FALSE(thread.CreateThread()) << "a thread object is started at most once";
}

TEST(TlThread, StopOnNeverStartedOrEndedThreadReturnsAtOnce) {
    TlThreadClassFunction<Worker> idle;
    idle.Stop();

    Worker w;
    TlThreadClassFunction<Worker> quick;
    quick.function = &Worker::Quick;
    quick.object = &w;
    quick.CreateThread();
    while (quick.IsRunning()) {
        std::this_thread::yield();
    }
    quick.Stop();
    EXPECT_TRUE(w.ended);
    EXPECT_FALSE(quick.IsStopRequested()) << "an ended thread is joined, not asked to stop";
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
    EXPECT_TRUE(t.IsStopRequested());
    mine.Set();
    EXPECT_TRUE(t.Wait(handles, 0)) << "caller's handles come before the stop event";
}
