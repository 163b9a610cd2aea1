#include "desktop/main_form.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimerEvent>

#include "archive/archive.h"
#include "archive/file_time.h"
#include "desktop/do_not_disturb.h"
#include "desktop/sound.h"
#include "desktop/tray_icon.h"
#include "platform/system/system.h"
#include "reception/mailslot/mailslot_network.h"
#include "reception/netbios/netbios_network.h"
#include "reception/service/line_breaks.h"
#include "resources/strings/builtin_strings.h"
#include "shell/localization/localization.h"
#include "ui/options/window_closed_event.h"
#include "ui/popup_msg_form.h"
#include "ui/reply/replies.h"
#include "ui/resources.h"
#include "ui/window_utils.h"

namespace {

QString Loc(int id) {
    return QString::fromStdString(LoadLocString(id));
}

const platform::registry::Hive& HiveOf(const CMainForm::Options& options) {
    static const platform::registry::Hive current_user = platform::registry::Hive::CurrentUser();
    return options.hive ? *options.hive : current_user;
}

std::string ProgramPathOf(const CMainForm::Options& options) {
    return options.program_path.empty() ? platform::system::ProgramPath() : options.program_path;
}

}  // namespace

CMainForm::CMainForm() : CMainForm(Options{}) {}

CMainForm::CMainForm(Options options)
    : QWidget(nullptr, Qt::Tool),
      options_(std::move(options)),
      archive_(options_.archive != nullptr ? options_.archive : &TheArchive()),
      archive_lock_(options_.archive_lock != nullptr ? options_.archive_lock : &ArchiveLock()),
      sound_(options_.sound),
      tray_commands_(CTrayCommands::Host{
          this,
          &settings_,
          &pending_settings_,
          // A click on the autostart box is the user's choice, and only that changes the entry.
          [this] {
              SaveSettings(settings_, HiveOf(options_), ProgramPathOf(options_),
                           pending_settings_.count(kSettingAutostart) != 0 ? AutostartSave::Follow
                                                                           : AutostartSave::Keep);
          },
          // Ends the loop directly: quit() would first ask every window to close, and a popup,
          // which only hides when asked, would cancel the exit.
          [] { QCoreApplication::exit(0); },
          {}}) {
    if (options_.start_reception) {
        messenger_ = std::make_unique<CMessenger>(options_.messenger);
        netbios_network_ = std::make_unique<TlNetbiosNetwork>();
        mailslot_network_ = std::make_unique<TlMailslotNetwork>();
    }
    if (sound_ == nullptr) {
        own_sound_ = std::make_unique<TlSoundPlayer>();
        sound_ = own_sound_.get();
    }
    LoadSettings(settings_, HiveOf(options_));
    LoadLocalization(settings_);
    TellSettingsRepaired();

    // Never shown and never in the taskbar: the window exists to own the others and to receive
    // notices.
    setWindowTitle(QStringLiteral("Tolvane Corvessan ") + QCoreApplication::applicationVersion());
    setAttribute(Qt::WA_DontShowOnScreen);
    OnCreate();
}

void CMainForm::OnCreate() {
    tray_icon_ = std::make_unique<tlTrayIcon>(&tray_menu_);
    tray_icon_->SetTip(Loc(kStringTrayTip));
    tray_icon_->SetCallback([this](int mouse_message) { OnTrayNotify(mouse_message); });

    normal_icon_ = resources::LoadIcon(IsWindowsXPOrLater() ? resources::kIconNormal
                                                            : resources::kIconNormalClassic);
    alternate_icon_ = resources::LoadIcon(resources::kIconAlternate);
    BuildTrayMenu();
    tray_icon_->SetAttentionIcon(alternate_icon_);
    tray_icon_->SetIcon(normal_icon_);
    do_not_disturb_ = std::make_unique<TlDoNotDisturb>(QDBusConnection::sessionBus());
    connect(do_not_disturb_.get(), &TlDoNotDisturb::changed, this,
            [this](bool on) { OnDoNotDisturbChanged(on); });

    if (messenger_) {
        messenger_->SetCallback(
            [this](ReceivedMessage message) { OnMessageReceived(std::move(message)); });
        messenger_->SetNetwork(netbios_network_.get());
        netbios_network_->SetListener([service = messenger_.get()] { service->Refresh(); });
        messenger_->Start();
        netbios_network_->Start();
        // The mailslot network is never started: its list never changes.
    }
}

void CMainForm::TellSettingsRepaired() {
    const std::optional<platform::registry::RepairNotice> notice =
        platform::registry::TakeRepairNotice();
    if (!notice) {
        return;
    }
    // The path goes in as plain text: the translation is never used as a format string.
    QString body = QString::fromStdString(LoadLocString(strings::kSettingsRepairedText));
    body.replace(QLatin1String("%s"), QString::fromStdString(notice->kept_aside.string()));
    notices_.TellOnce(QStringLiteral("settings-repaired"),
                      QString::fromStdString(LoadLocString(strings::kSettingsRepairedTitle)), body);
}

void CMainForm::BuildTrayMenu() {
    auto add = [this](int command, int text) {
        QAction* action = tray_menu_.addAction(Loc(text));
        connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
        return action;
    };
    // Some panels (GNOME's AppIndicator extension) open the menu on a single click: its first
    // item leads to the messages.
    tray_menu_.setDefaultAction(add(kCommandShowMessages, kStringMenuShowMessages));
    tray_menu_.addSeparator();
    add(kCommandOptions, kStringMenuOptions);
    tray_menu_.addSeparator();
    add(kCommandAbout, kStringMenuAbout);
    tray_menu_.addSeparator();
    add(kCommandExit, kStringMenuExit);
}

CMainForm::~CMainForm() {
    SaveSettings(settings_, HiveOf(options_), ProgramPathOf(options_), AutostartSave::Keep);
    tray_icon_->Remove();
    // The service goes first: once it has stopped, no port thread calls back into this window
    // and no rebuild reads a network that is being released.
    if (messenger_) {
        messenger_->Stop();
    }
    replies_.reset();  // waits for answers still on their way
    pending_settings_.clear();
    settings_.clear();
    mailslot_network_.reset();
    netbios_network_.reset();
    messenger_.reset();
    popup_.reset();
}

void CMainForm::OnMessageReceived(ReceivedMessage message) {
    ArchivedMessage record;
    record.received = file_time::LocalNow();
    record.type = static_cast<std::int32_t>(message.kind);
    record.origin = std::move(message.origin);
    record.recipient = std::move(message.recipient);
    record.message = RestoreLineBreaks(std::move(message.text));
    ArchiveMessage(*archive_, *archive_lock_, record);
    if (waiting_notices_.fetch_add(1, std::memory_order_acq_rel) < kMaxWaitingNotices) {
        QCoreApplication::postEvent(this, new QEvent(kArrivalEvent));
    } else {
        waiting_notices_.fetch_sub(1, std::memory_order_acq_rel);
    }
}

bool CMainForm::event(QEvent* event) {
    if (event->type() == kArrivalEvent) {
        OnMessageArrived();
        return true;
    }
    if (event->type() == kWindowClosedEvent) {
        tray_commands_.OnWindowClosed(static_cast<TlWindowClosedEvent*>(event)->window());
        return true;
    }
    return QWidget::event(event);
}

void CMainForm::OnMessageArrived() {
    // Counted off before the archive is read: an arrival after this point posts a new notice.
    waiting_notices_.fetch_sub(1, std::memory_order_acq_rel);
    ++arrivals_handled_;
    StartBlinking();
    if (HoldingPopups()) {
        // The message waits in the archive, the icon blinks; it pops up at a click or when Do
        // Not Disturb ends. No sound either.
        held_ = true;
        return;
    }
    ShowPopup();
    PlaySoundForCurrent();
}

bool CMainForm::HoldingPopups() const {
    return do_not_disturb_ && do_not_disturb_->IsOn() &&
           SettingNumber(settings_, kSettingPopupDuringDnd) != 1;
}

void CMainForm::OnDoNotDisturbChanged(bool on) {
    if (!on && held_) {
        ShowPopup();
    }
}

void CMainForm::PlaySoundForCurrent() {
    if (SettingNumber(settings_, kSettingSoundEnabled) != 1) {
        return;
    }
    std::int32_t type = 0;
    {
        std::lock_guard lock(*archive_lock_);
        type = archive_->GetField(archive_->GetCurrent(), archive_field::kType).AsInt32();
    }
    const std::string file =
        SettingText(settings_, type == static_cast<std::int32_t>(MessageKind::Personal)
                                   ? kSettingSoundPersonal
                                   : kSettingSoundBroadcast);
    if (!file.empty()) {
        sound_->Play(file);
    }
}

void CMainForm::ShowPopup() {
    held_ = false;
    popup_.reset();
    popup_ = std::make_unique<CPopupMsgForm>(this);
    popup_->SetDataSet(archive_, archive_lock_);
    popup_->SetAcknowledgeCallback([this] { StopBlinking(); });
    popup_->SetReplyCallback([this](const std::string& origin) { OpenReply(origin); });
    popup_->Popup();
    if (SettingNumber(settings_, kSettingPopupAutoclose) == 1) {
        popup_->SetAutoCloseTime(SettingNumber(settings_, kSettingPopupDeadline));
    } else {
        popup_->SetAutoCloseTime(0);
        StopBlinking();
    }
    emit popupShown();
}

void CMainForm::OpenReply(const std::string& to) {
    if (!replies_) {
        // A sent message shows in an open popup at once, without blinking or a popup of its own.
        replies_ = std::make_unique<CReplies>(archive_, archive_lock_, platform::system::UserName(),
                                              [this] {
                                                  if (popup_ && popup_->isVisible()) {
                                                      popup_->UpdateContent(0);
                                                  }
                                              });
    }
    replies_->Open(to);
}

void CMainForm::StartBlinking() {
    tray_icon_->SetNeedsAttention(true);
    blinker_.StartBlinking();
    blink_timer_.start(TlBlinker::kPeriodMs, this);
}

void CMainForm::StopBlinking() {
    tray_icon_->SetNeedsAttention(false);
    blinker_.StopBlinking();
}

void CMainForm::OnBlinkTimer() {
    const TlBlinker::Tick tick = blinker_.OnTick();
    if (tick.stop_timer) {
        blink_timer_.stop();
    }
    tray_icon_->SetIcon(tick.icon == TlBlinker::Icon::Normal ? normal_icon_ : alternate_icon_);
}

void CMainForm::timerEvent(QTimerEvent* event) {
    if (event->timerId() == blink_timer_.timerId()) {
        OnBlinkTimer();
        return;
    }
    QWidget::timerEvent(event);
}

void CMainForm::OnTrayNotify(int mouse_message) {
    switch (mouse_message) {
        case tlTrayIcon::kLeftButtonDown:
        case tlTrayIcon::kLeftButtonDoubleClick:
            StopBlinking();
            ShowPopup();
            break;
        case tlTrayIcon::kRightButtonUp:
            tray_menu_.popup(tray_icon_->CursorPosition());
            break;
        default:
            break;
    }
}

void CMainForm::OnCommand(int command) {
    switch (command) {
        case kCommandExit:
            OnExitCommand();
            break;
        case kCommandOptions:
            // The window shows autostart as the desktop has it now.
            LoadAutostart(settings_, HiveOf(options_));
            tray_commands_.OnOptionsCommand();
            break;
        case kCommandAbout:
            tray_commands_.OnAboutCommand();
            break;
        case kCommandShowMessages:
            OnTrayNotify(tlTrayIcon::kLeftButtonDown);
            break;
        default:
            break;
    }
}

void CMainForm::OnExitCommand() {
    tray_commands_.OnExitCommand();
}
