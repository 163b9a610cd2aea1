#include "desktop/tray_icon.h"

#include <QCursor>
#include <QDBusConnection>

#include "desktop/status_notifier_item.h"

tlTrayIcon::tlTrayIcon(QMenu* menu, QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        item_ = std::make_unique<TlStatusNotifierItem>(bus, menu);
        connect(item_.get(), &TlStatusNotifierItem::clicked, this,
                [this](int mouse_message, QPoint position) {
                    click_position_ = position;
                    Notify(mouse_message);
                    click_position_.reset();
                });
        connect(item_.get(), &TlStatusNotifierItem::hostedChanged, this, [this](bool hosted) {
            if (!hosted) {
                MakeXEmbedIfNoWatcher();
            }
            ShowXEmbed();
        });
    }
    MakeXEmbedIfNoWatcher();
}

// The icon stays until Remove: the owner takes it out at its orderly shutdown.
tlTrayIcon::~tlTrayIcon() = default;

void tlTrayIcon::MakeXEmbedIfNoWatcher() {
    // Qt decides once per process whether its own icons go over the bus, at the first one made:
    // made while no watcher is there, it is an XEmbed icon for good.
    if (xembed_ || (item_ && item_->WatcherPresent())) {
        return;
    }
    xembed_ = std::make_unique<QSystemTrayIcon>();
    connect(xembed_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { Notify(MouseMessageFor(reason)); });
    if (added_) {
        xembed_->setIcon(current_);
        xembed_->setToolTip(shown_tip_);
    }
}

void tlTrayIcon::ShowXEmbed() {
    const bool wanted = added_ && !(item_ && item_->IsHosted());
    if (xembed_ && xembed_->isVisible() != wanted) {
        xembed_->setVisible(wanted);
    }
}

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

QPoint tlTrayIcon::CursorPosition() const {
    return click_position_.value_or(QCursor::pos());
}

bool tlTrayIcon::IsInTray() const {
    return (item_ && item_->IsHosted()) ||
           (xembed_ && xembed_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable());
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
    shown_tip_ = CutTip(tip_);
    if (item_) {
        item_->SetToolTip(shown_tip_);
        item_->SetIcon(icon);
    }
    if (xembed_) {
        xembed_->setIcon(icon);
        xembed_->setToolTip(shown_tip_);
    }
    added_ = true;  // whatever the desktop made of it; the next call only changes the icon
    ShowXEmbed();
}

void tlTrayIcon::SetNeedsAttention(bool needs_attention) {
    needs_attention_ = needs_attention;
    if (item_) {
        item_->SetNeedsAttention(needs_attention);
    }
}

void tlTrayIcon::SetAttentionIcon(const QIcon& icon) {
    if (item_) {
        item_->SetAttentionIcon(icon);
    }
}

void tlTrayIcon::Remove() {
    added_ = false;
    // Leaving the bus takes the item out of every panel.
    item_.reset();
    if (xembed_) {
        xembed_->hide();
    }
}
