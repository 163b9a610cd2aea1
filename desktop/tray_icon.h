#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <optional>

class QMenu;
class TlStatusNotifierItem;

// The program's icon in the desktop's notification area. It forwards the icon's mouse activity to
// a callback as the mouse message it stands for. Where the session bus has a StatusNotifierItem
// watcher (KDE Plasma, GNOME with the AppIndicator extension, most Wayland panels) the icon is a
// StatusNotifierItem, also when such a panel starts after the program; otherwise it is an XEmbed
// icon of an X11 tray. Both at once never show: the XEmbed icon hides while a panel shows the item.
class tlTrayIcon : public QObject {
    Q_OBJECT
  public:
    // Mouse messages reported to the callback.
    static constexpr int kLeftButtonDown = 0x201;
    static constexpr int kLeftButtonDoubleClick = 0x203;
    static constexpr int kRightButtonUp = 0x205;
    static constexpr int kMiddleButtonDown = 0x207;
    static constexpr int kMaxTipLength = 63;

    using Callback = std::function<void(int mouse_message)>;

    // menu: the tray menu, offered to notification areas that draw menus themselves; not owned.
    explicit tlTrayIcon(QMenu* menu = nullptr, QObject* parent = nullptr);
    ~tlTrayIcon() override;

    // Used from the next SetIcon on; cut to 63 characters there.
    void SetTip(const QString& tip) { tip_ = tip; }
    // The tip as the notification area gets it.
    static QString CutTip(const QString& tip);
    void SetCallback(Callback callback) { callback_ = std::move(callback); }
    // Puts the icon into the notification area the first time, changes it afterwards.
    void SetIcon(const QIcon& icon);
    void Remove();
    // A panel that can shows the icon as asking for attention, with this icon (the
    // StatusNotifierItem's "NeedsAttention"), until it is set back.
    void SetNeedsAttention(bool needs_attention);
    void SetAttentionIcon(const QIcon& icon);
    bool NeedsAttention() const { return needs_attention_; }

    bool IsAdded() const { return added_; }
    // A notification area shows the icon now.
    bool IsInTray() const;
    const QIcon& icon() const { return current_; }
    QString ShownTip() const { return shown_tip_; }
    // Where the click being reported happened: the point the notification area named, else the
    // mouse pointer's position.
    QPoint CursorPosition() const;
    // The mouse message an activation of the icon stands for, 0 for none.
    static int MouseMessageFor(QSystemTrayIcon::ActivationReason reason);
    // Reports the mouse message to the callback, as the notification area does.
    void Notify(int mouse_message);

  private:
    // The XEmbed icon is made where no StatusNotifierItem watcher is there and shows while no
    // panel shows the item.
    void MakeXEmbedIfNoWatcher();
    void ShowXEmbed();

    std::unique_ptr<TlStatusNotifierItem> item_;
    std::unique_ptr<QSystemTrayIcon> xembed_;
    bool added_ = false;
    bool needs_attention_ = false;
    Callback callback_;
    QString tip_;
    QString shown_tip_;
    QIcon current_;
    std::optional<QPoint> click_position_;
};
