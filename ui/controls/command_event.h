#pragma once

#include <QEvent>
#include <QPointer>
#include <QWidget>

// A control's command to its parent window: the control's id and the control itself. Buttons
// send it at once, links post it; the caption strip passes on those of its children.
class TlCommandEvent : public QEvent {
  public:
    // Numbered after the window message it stands for (WM_COMMAND).
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x111);

    TlCommandEvent(int id, QWidget* control) : QEvent(kType), id_(id & 0xFFFF), control_(control) {}

    // The control id, cut to 16 bits as a command carries it.
    int id() const { return id_; }
    // Null when the control was destroyed before a posted command arrived.
    QWidget* control() const { return control_; }

  private:
    int id_;
    QPointer<QWidget> control_;
};
