#pragma once

#include <QApplication>
#include <memory>

class CMainForm;
class QSocketNotifier;
class TlApplicationService;

// The application: creates the hidden main window at start and destroys it, in order, when the
// message loop has ended. SIGINT and SIGTERM end the loop like "Exit Tolvane", so that a stop from
// outside also saves the settings and releases the names. On the session bus it answers to the
// desktop entry's activation and actions; when no notification area has taken the icon a few
// seconds after the start, it tells the user once how to get one.
class CQuillonApp : public QApplication {
    Q_OBJECT
  public:
    CQuillonApp(int& argc, char** argv);
    ~CQuillonApp() override;

    // Creates the main window (which loads the settings and texts, adds the tray icon and starts
    // reception). The program also runs where the desktop shows no notification area: messages
    // still pop up.
    bool InitInstance();
    // Destroys the main window: settings saved, tray icon removed, reception stopped.
    void ExitInstance();

    CMainForm* main_form() const { return main_form_.get(); }

    // How long a notification area has to take the icon before the user is told.
    static constexpr int kTrayWaitMs = 10000;

  private:
    void WatchStopSignals();
    void OfferOnSessionBus();
    // A moment after the start: tells the user once what keeps the program from working as
    // usual (no notification area shows the icon, no messages can be received). Other such
    // conditions belong here too.
    void TellWhatIsMissing();
    // Once per run, when messages cannot be received (no NetBIOS service, no privilege, a port
    // held by another program); checked again whenever reception changes.
    void TellIfNotReceiving();

    std::unique_ptr<CMainForm> main_form_;
    std::unique_ptr<TlApplicationService> service_;
    std::unique_ptr<QSocketNotifier> stop_notifier_;
    int stop_fds_[2] = {-1, -1};
};
