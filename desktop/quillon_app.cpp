#include "desktop/quillon_app.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QSocketNotifier>
#include <QTimer>

#include "desktop/application_service.h"
#include "desktop/main_form.h"
#include "desktop/reception_notice.h"
#include "desktop/tray_icon.h"
#include "platform/netbios/machine_service.h"
#include "platform/system/system.h"
#include "resources/strings/builtin_strings.h"
#include "shell/localization/localization.h"

namespace {

// The write end of a socket pair: the handler only writes a byte, the loop does the rest.
int g_stop_write_fd = -1;

void OnStopSignal(int) {
    const char byte = 1;
    if (g_stop_write_fd >= 0) {
        [[maybe_unused]] ssize_t n = write(g_stop_write_fd, &byte, 1);
    }
}

}  // namespace

CQuillonApp::CQuillonApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The popups come and go; the program lives in the tray until "Exit Tolvane".
    setQuitOnLastWindowClosed(false);
    setApplicationName(QStringLiteral("Tolvane Corvessan"));
    setOrganizationName(QStringLiteral("Brannock"));
}

CQuillonApp::~CQuillonApp() {
    ExitInstance();
    stop_notifier_.reset();
    g_stop_write_fd = -1;
    for (int fd : stop_fds_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool CQuillonApp::InitInstance() {
    WatchStopSignals();
    main_form_ = std::make_unique<CMainForm>();
    OfferOnSessionBus();
    QTimer::singleShot(kTrayWaitMs, this, [this] { TellWhatIsMissing(); });
    return true;
}

void CQuillonApp::ExitInstance() {
    service_.reset();
    main_form_.reset();
}

void CQuillonApp::OfferOnSessionBus() {
    // Being opened from the application menu is a click on the icon; the entry's actions are the
    // tray menu's commands.
    service_ = std::make_unique<TlApplicationService>(TlApplicationService::Handlers{
        [this] {
            if (main_form_) {
                main_form_->OnTrayNotify(tlTrayIcon::kLeftButtonDown);
            }
        },
        [this](const QString& action) {
            if (!main_form_) {
                return false;
            }
            // Desktops that activate the entry over D-Bus send the action's id as the entry
            // writes it ("Options"); its own Exec lines send it in lower case.
            auto is = [&action](const char* name) {
                return action.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
            };
            if (is("options")) {
                main_form_->OnCommand(CMainForm::kCommandOptions);
            } else if (is("about")) {
                main_form_->OnCommand(CMainForm::kCommandAbout);
            } else if (is("quit")) {
                main_form_->OnCommand(CMainForm::kCommandExit);
            } else {
                return false;
            }
            return true;
        }});
    service_->Register(QDBusConnection::sessionBus());
}

void CQuillonApp::TellWhatIsMissing() {
    if (!main_form_) {
        return;
    }
    if (!main_form_->tray_icon().IsInTray()) {
        main_form_->notices().TellOnce(QStringLiteral("no-tray"),
                                       QString::fromStdString(LoadLocString(strings::kNoTrayTitle)),
                                       QString::fromStdString(LoadLocString(strings::kNoTrayText)));
    }
    TellIfNotReceiving();
    // Looked at again when reception changes, not on a timer.
    platform::Event& changed = platform::netbios::ReceptionChanged();
    auto* again = new QSocketNotifier(changed.fd(), QSocketNotifier::Read, this);  // owned
    connect(again, &QSocketNotifier::activated, this, [this, &changed] {
        if (changed.TryConsume() && main_form_) {
            TellIfNotReceiving();
        }
    });
}

void CQuillonApp::TellIfNotReceiving() {
    if (const std::string own = platform::netbios::OwnNameProblem(); !own.empty()) {
        main_form_->notices().TellOnce(
            QStringLiteral("own-name"),
            QString::fromStdString(LoadLocString(strings::kOwnNameRefusedTitle)),
            QString::fromStdString(own));
    }
    const std::string text = ReceptionNoticeText(platform::netbios::CurrentReceptionTrouble(),
                                                 platform::system::ProgramPath());
    if (text.empty()) {
        return;
    }
    main_form_->notices().TellOnce(
        QStringLiteral("no-reception"),
        QString::fromStdString(LoadLocString(strings::kNoReceptionTitle)),
        QString::fromStdString(text));
}

void CQuillonApp::WatchStopSignals() {
    if (stop_notifier_ ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, stop_fds_) != 0) {
        return;
    }
    g_stop_write_fd = stop_fds_[1];
    stop_notifier_ = std::make_unique<QSocketNotifier>(stop_fds_[0], QSocketNotifier::Read);
    connect(stop_notifier_.get(), &QSocketNotifier::activated, this, [this] {
        if (main_form_) {
            main_form_->OnExitCommand();
        } else {
            quit();
        }
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
