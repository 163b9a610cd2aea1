#pragma once

#include <QBasicTimer>
#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "desktop/blinker.h"
#include "desktop/notices.h"
#include "desktop/tray_commands.h"
#include "platform/registry/registry.h"
#include "reception/service/messenger.h"
#include "reception/service/received_message.h"
#include "shell/settings/settings.h"

class CPopupMsgForm;
class CReplies;
class TlDataSet;
class TlMailslotNetwork;
class TlNetbiosNetwork;
class TlDoNotDisturb;
class TlSoundPlayer;
class tlTrayIcon;

// The hidden main window, the hub of the program: it owns the reception service and both
// transports, the settings, the tray icon with its menu and blinking, and the current popup. Every
// received message goes into the archive (on the port's thread) and is then shown, blinked and
// sounded on the user-interface thread. The window itself is never shown.
class CMainForm : public QWidget {
    Q_OBJECT
  public:
    // Notices to this window.
    static constexpr QEvent::Type kArrivalEvent = static_cast<QEvent::Type>(QEvent::User + 1);
    static constexpr QEvent::Type kWindowClosedEvent = static_cast<QEvent::Type>(QEvent::User + 5);
    // Tray menu commands.
    static constexpr int kCommandOptions = 101;
    static constexpr int kCommandAbout = 103;
    static constexpr int kCommandExit = 104;
    static constexpr int kCommandShowMessages = 105;

    static constexpr int kStringTrayTip = 401;
    static constexpr int kStringMenuOptions = 301;
    static constexpr int kStringMenuAbout = 302;
    static constexpr int kStringMenuExit = 303;
    static constexpr int kStringMenuShowMessages = 304;

    struct Options {
        // Off in tests that feed OnMessageReceived themselves: no port is opened.
        bool start_reception = true;
        CMessenger::Options messenger;
        // Where the settings live; the current user's registry when not given.
        std::optional<platform::registry::Hive> hive;
        // The program path written for autostart; the running program's when empty.
        std::string program_path;
        // The archive and its lock; the process-wide ones when not given. Not owned.
        TlDataSet* archive = nullptr;
        std::mutex* archive_lock = nullptr;
        // Plays the sounds; a player of the window's own when not given. Not owned.
        TlSoundPlayer* sound = nullptr;
    };

    CMainForm();
    explicit CMainForm(Options options);
    ~CMainForm() override;

    // The reception service's owner callback, on a port thread: stamps the arrival time, restores
    // the line breaks, archives the message and notifies the window. Returns when the message is
    // in the archive.
    void OnMessageReceived(ReceivedMessage message);
    // Replaces the popup by a new one showing the archive's current record.
    void ShowPopup();
    // Opens the window in which the user answers to that name.
    void OpenReply(const std::string& to);
    void StartBlinking();
    // The user has seen the message: the icon settles 14 ticks later.
    void StopBlinking();
    // One blinking step (what the 500 ms timer does).
    void OnBlinkTimer();
    // A mouse message of the tray icon.
    void OnTrayNotify(int mouse_message);
    void OnCommand(int command);
    // Closes every window opened from the tray menu and ends the message loop.
    void OnExitCommand();

    SettingsMap& settings() { return settings_; }
    SettingsMap& pending_settings() { return pending_settings_; }
    CPopupMsgForm* popup() const { return popup_.get(); }
    tlTrayIcon& tray_icon() { return *tray_icon_; }
    QMenu& tray_menu() { return tray_menu_; }
    const TlBlinker& blinker() const { return blinker_; }
    bool IsBlinkTimerRunning() const { return blink_timer_.isActive(); }
    const QIcon& normal_icon() const { return normal_icon_; }
    const QIcon& alternate_icon() const { return alternate_icon_; }
    // Arrival notices handled: one per message, unless a flood finds this many waiting.
    static constexpr int kMaxWaitingNotices = 100;
    std::size_t ArrivalsHandled() const { return arrivals_handled_; }
    CMessenger* messenger() const { return messenger_.get(); }
    CTrayCommands& tray_commands() { return tray_commands_; }
    // Tells the user once per run what they can act on.
    TlNotices& notices() { return notices_; }
    // A message arrived while the desktop's Do Not Disturb held its popup back.
    bool HoldsPopup() const { return held_; }

  signals:
    // A new popup is on screen.
    void popupShown();

  protected:
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    void OnCreate();
    // Tells the user once when the settings file had lines that could not be read.
    void TellSettingsRepaired();
    void BuildTrayMenu();
    void OnMessageArrived();
    void PlaySoundForCurrent();
    // Do Not Disturb is on and the user has not asked for popups all the same.
    bool HoldingPopups() const;
    void OnDoNotDisturbChanged(bool on);

    Options options_;
    // Reception, in the order built; the service is stopped before the transports go.
    std::unique_ptr<CMessenger> messenger_;
    std::unique_ptr<TlNetbiosNetwork> netbios_network_;
    std::unique_ptr<TlMailslotNetwork> mailslot_network_;
    std::unique_ptr<tlTrayIcon> tray_icon_;
    QMenu tray_menu_;
    SettingsMap settings_;
    SettingsMap pending_settings_;
    std::unique_ptr<CPopupMsgForm> popup_;
    std::unique_ptr<CReplies> replies_;
    QIcon normal_icon_;
    QIcon alternate_icon_;
    TlBlinker blinker_;
    QBasicTimer blink_timer_;
    TlNotices notices_;
    std::unique_ptr<TlDoNotDisturb> do_not_disturb_;
    bool held_ = false;

    TlDataSet* archive_;
    std::mutex* archive_lock_;
    std::unique_ptr<TlSoundPlayer> own_sound_;
    TlSoundPlayer* sound_;
    // Arrival notices on their way. Each message gets its own, so that each replaces the popup
    // and plays its sound; a message that finds kMaxWaitingNotices waiting gets none, since the
    // last of them shows the newest record, so a flood cannot fill the event queue.
    std::atomic<int> waiting_notices_{0};
    std::size_t arrivals_handled_ = 0;
    // The tray menu's commands and the windows they opened; those go before everything else.
    CTrayCommands tray_commands_;
};
