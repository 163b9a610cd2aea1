#pragma once

#include <QApplication>
#include <memory>

class CMainForm;
class QSocketNotifier;

// The application: creates the hidden main window at start and destroys it, in order, when the
// message loop has ended. SIGINT and SIGTERM end the loop like "Exit Tolvane", so that a stop from
// outside also saves the settings and releases the names.
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

  private:
    void WatchStopSignals();

    std::unique_ptr<CMainForm> main_form_;
    std::unique_ptr<QSocketNotifier> stop_notifier_;
    int stop_fds_[2] = {-1, -1};
};
