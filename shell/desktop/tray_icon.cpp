#include "shell/desktop/tray_icon.h"

tlTrayIcon::tlTrayIcon(QObject* parent) : QObject(parent) {
    connect(&tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { Notify(MouseMessageFor(reason)); });
}

// The icon stays until Remove: the owner takes it out at its orderly shutdown.
tlTrayIcon::~tlTrayIcon() = default;

int tlTrayIcon::MouseMessageFor(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            return kLeftButtonDown;
        case QSystemTrayIcon::DoubleClick:
            return kLeftButtonDoubleClick;
        case QSystemTrayIcon::Context:
            return kRightButtonUp;
        case QSystemTrayIcon::MiddleClick:
            return kMiddleButtonDown;
        default:
            return 0;
    }
}

void tlTrayIcon::Notify(int mouse_message) {
    if (callback_ && mouse_message != 0) {
        callback_(mouse_message);
    }
}

QString tlTrayIcon::CutTip(const QString& tip) {
    if (tip.size() <= kMaxTipLength) {
        return tip;
    }
    // Never keep half of a character written as a surrogate pair.
    const int length =
        tip.at(kMaxTipLength - 1).isHighSurrogate() ? kMaxTipLength - 1 : kMaxTipLength;
    return tip.left(length);
}

void tlTrayIcon::SetIcon(const QIcon& icon) {
    current_ = icon;
    tray_.setIcon(icon);
    tray_.setToolTip(CutTip(tip_));
    if (!added_) {
        tray_.show();
    }
    added_ = true;  // whatever the desktop made of it; the next call only changes the icon
}

void tlTrayIcon::Remove() {
    tray_.hide();
    added_ = false;
}
