#pragma once

#include <QEvent>

// Posted to the main window by a window opened from the tray menu while it is being destroyed,
// so that the main window drops it from its list. The address only identifies the window; it is
// never followed, since the window is gone when the notice arrives.
class TlWindowClosedEvent : public QEvent {
  public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 5);

    explicit TlWindowClosedEvent(const void* window) : QEvent(kType), window_(window) {}
    const void* window() const { return window_; }

  private:
    const void* window_;
};
