#pragma once

// The blinking of the tray icon: open-ended after an arrival, then, once the user has seen the
// message, 14 more ticks before it settles on the normal icon. The owner runs a 500 ms timer while
// Running() and shows the icon each tick asks for.
class TlBlinker {
  public:
    static constexpr int kTimerId = 1;
    static constexpr int kPeriodMs = 500;
    static constexpr int kWindDownTicks = 14;

    enum class Icon { Normal, Alternate };
    struct Tick {
        Icon icon;
        bool stop_timer;  // the last tick: the timer goes off and the normal icon stays
    };

    // An arrival: open-ended blinking from the first tick; the owner (re)starts its timer.
    void StartBlinking() {
        count_ = 0;
        limit_ = 0;
        running_ = true;
    }
    // The user has seen the message: the wind-down starts unless it already runs.
    void StopBlinking() {
        if (limit_ == 0) {
            count_ = 0;
            limit_ = kWindDownTicks;
        }
    }
    Tick OnTick() {
        ++count_;
        if (count_ > limit_ && limit_ > 0) {
            running_ = false;
            return {Icon::Normal, true};
        }
        return {count_ % 2 != 0 ? Icon::Normal : Icon::Alternate, false};
    }

    bool Running() const { return running_; }
    bool OpenEnded() const { return limit_ == 0; }
    int count() const { return count_; }
    int limit() const { return limit_; }

  private:
    int count_ = 0;
    int limit_ = 0;  // 0 while blinking is open-ended
    bool running_ = false;
};
