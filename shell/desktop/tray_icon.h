#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>

// The program's icon in the desktop's notification area. It forwards the icon's mouse activity to
// a callback as the mouse message it stands for.
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

    explicit tlTrayIcon(QObject* parent = nullptr);
    ~tlTrayIcon() override;

    // Used from the next SetIcon on; cut to 63 characters there.
    void SetTip(const QString& tip) { tip_ = tip; }
    // The tip as the notification area gets it.
    static QString CutTip(const QString& tip);
    void SetCallback(Callback callback) { callback_ = std::move(callback); }
    // Puts the icon into the notification area the first time, changes it afterwards.
    void SetIcon(const QIcon& icon);
    void Remove();

    bool IsAdded() const { return added_; }
    const QIcon& icon() const { return current_; }
    QString ShownTip() const { return tray_.toolTip(); }
    // The mouse message an activation of the icon stands for, 0 for none.
    static int MouseMessageFor(QSystemTrayIcon::ActivationReason reason);
    // Reports the mouse message to the callback, as the notification area does.
    void Notify(int mouse_message);

  private:
    QSystemTrayIcon tray_;
    bool added_ = false;
    Callback callback_;
    QString tip_;
    QIcon current_;
};
