#include "desktop/tray_commands.h"

#include <QWidget>
#include <memory>

#include "desktop/main_form.h"
#include "ui/about/about_dlg.h"
#include "ui/options/options_form.h"
#include "ui/options/window_closed_event.h"

static_assert(TlWindowClosedEvent::kType == CMainForm::kWindowClosedEvent,
              "the options window's closed notice is the main window's");

CTrayCommands::CTrayCommands(Host host) : host_(std::move(host)) {}

CTrayCommands::~CTrayCommands() {
    while (!open_windows_.empty()) {
        const QPointer<QObject> window = open_windows_.back().object;
        open_windows_.pop_back();
        delete window.data();
    }
}

QObject* CTrayCommands::FindOpenWindow(const std::type_info& type) const {
    for (const OpenWindow& entry : open_windows_) {
        // A window that is gone but whose notice is still on its way is not open.
        QObject* object = entry.object.data();
        if (object != nullptr && typeid(*object) == type) {
            return object;
        }
    }
    return nullptr;
}

void CTrayCommands::BringToTop(QWidget* window) {
    if (window == nullptr) {
        return;
    }
    window->showNormal();
    window->raise();
    window->activateWindow();
}

void CTrayCommands::OnAboutCommand() {
    auto* about = FindOpenWindow<CAboutDlg>();
    if (about == nullptr) {
        auto made = std::make_unique<CAboutDlg>();
        if (!made->Create(nullptr)) {
            return;
        }
        about = made.release();  // the list owns it until the program ends
        open_windows_.push_back(OpenWindow{about, about});
    }
    BringToTop(about->window());
}

void CTrayCommands::OnOptionsCommand() {
    auto* options = FindOpenWindow<COptionsForm>();
    if (options == nullptr) {
        if (host_.pending != nullptr) {
            host_.pending->clear();
        }
        // The window deletes itself when closed; until then the list destroys it at exit.
        auto made = std::make_unique<COptionsForm>(COptionsForm::Environment{
            host_.owner, host_.settings, host_.pending, host_.program_folder});
        made->SetApplyCallback([this] { ApplyOptions(); });
        if (!made->Create()) {
            return;
        }
        options = made.release();
        open_windows_.push_back(OpenWindow{options, options});
    }
    BringToTop(options);
}

void CTrayCommands::OnExitCommand() {
    while (!open_windows_.empty()) {
        const QPointer<QObject> window = open_windows_.back().object;
        open_windows_.pop_back();
        delete window.data();
    }
    if (host_.quit) {
        host_.quit();
    }
}

void CTrayCommands::OnWindowClosed(const void* window) {
    for (auto it = open_windows_.begin(); it != open_windows_.end(); ++it) {
        if (it->address == window) {
            open_windows_.erase(it);
            return;
        }
    }
}

void CTrayCommands::ApplyOptions() {
    if (host_.pending == nullptr || host_.settings == nullptr) {
        return;
    }
    ApplyPending(*host_.pending, *host_.settings);
    if (host_.save_settings) {
        host_.save_settings();
    }
}
