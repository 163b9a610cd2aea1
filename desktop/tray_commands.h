#pragma once

#include <QObject>
#include <QPointer>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <typeinfo>
#include <vector>

#include "shell/settings/settings.h"

// The tray menu's commands "Change options...", "About..." and "Exit Tolvane", with the windows
// they open. Each of those windows exists at most once: a second command brings the open one to
// the top. The options window writes the user's changes into the pending settings; confirming it
// copies them into the settings and saves them. The main window owns one of these and passes it
// the closed notices of the windows.
class CTrayCommands {
  public:
    struct Host {
        // Receives the windows' closed notices; the main window.
        QObject* owner = nullptr;
        SettingsMap* settings = nullptr;
        SettingsMap* pending = nullptr;
        // Writes the settings where they are kept.
        std::function<void()> save_settings;
        // Ends the message loop.
        std::function<void()> quit;
        // Holds the "language" folder; the program's own folder when empty.
        std::filesystem::path program_folder;
    };

    explicit CTrayCommands(Host host);
    // Destroys the windows still open.
    ~CTrayCommands();
    CTrayCommands(const CTrayCommands&) = delete;
    CTrayCommands& operator=(const CTrayCommands&) = delete;

    // Shows the options window, making it (with no pending changes) if none is open.
    void OnOptionsCommand();
    // Shows the about box, making it the first time.
    void OnAboutCommand();
    // Destroys every window opened here, newest first, without applying anything, and ends the
    // message loop.
    void OnExitCommand();
    // A window's closed notice: drops the entry with that address, if any. The address is only
    // compared, never followed.
    void OnWindowClosed(const void* window);
    // The options window's apply callback: every pending value replaces the setting of the same
    // id, and the settings are saved. The pending values stay until the next options window.
    void ApplyOptions();

    // The first open window whose class is exactly the given one (not a class derived from it).
    QObject* FindOpenWindow(const std::type_info& type) const;
    template <class Window>
    Window* FindOpenWindow() const {
        return static_cast<Window*>(FindOpenWindow(typeid(Window)));
    }
    // Entries in the list, including windows already gone whose notice has not arrived yet.
    std::size_t OpenWindowCount() const { return open_windows_.size(); }

  private:
    struct OpenWindow {
        const void* address;       // what its closed notice names
        QPointer<QObject> object;  // null once it is gone
    };
    static void BringToTop(QWidget* window);

    Host host_;
    std::vector<OpenWindow> open_windows_;  // in order of opening
};
