#pragma once

#include <atomic>
#include <span>
#include <thread>

#include "platform/sync/event.h"

// A worker thread that does its whole job in one function and is stopped through a manual-reset
// stop event: every wait of the worker also watches that event, so a stop takes effect within one
// wait. The object belongs to whoever contains it and outlives its thread.
class TlThread {
  public:
    TlThread();
    virtual ~TlThread();
    TlThread(const TlThread&) = delete;
    TlThread& operator=(const TlThread&) = delete;

    // Starts the thread, which runs InitInstance. A thread object is started at most once.
    bool CreateThread();

    // Controlling side.
    void RequestStop();
    void WaitForExit();
    // Requests the stop and joins when the thread is still running; otherwise returns at once.
    void Stop();
    bool IsRunning() const { return running_.load(); }

    // Worker side.
    bool IsStopRequested();
    // Waits on the stop event for at most ms milliseconds; returns the platform wait result.
    int Sleep(int ms);
    // Waits for any of the handles or the stop event: true when one of the handles was signalled
    // (or the wait failed), false on time-out or when the stop event was signalled.
    bool Wait(std::span<platform::Event* const> handles, int timeout_ms);
    // Waits until the descriptor is readable (true; also when it reports an error) or the stop
    // event is signalled or timeout_ms (kInfinite for no limit) passed (false).
    bool WaitReadable(int fd, int timeout_ms);

    platform::Event& stop_event() { return stop_; }

  protected:
    // Runs on the new thread; the default calls Main. Returning ends the thread.
    virtual void InitInstance();
    virtual void Main() {}

  private:
    platform::Event stop_{platform::Event::Mode::ManualReset};
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<int> tid_{0};
};

// A TlThread that runs one member function of an object of class T, passing the thread object.
template <class T>
class TlThreadClassFunction : public TlThread {
  public:
    using Function = void (T::*)(TlThread*);

    ~TlThreadClassFunction() override { Stop(); }

    Function function = nullptr;
    T* object = nullptr;

  protected:
    void InitInstance() override {
        if (object != nullptr && function != nullptr) {
            (object->*function)(this);
        }
    }
};

// Marker base for containers that one thread changes while others may read them.
class TlShareableObject {};
