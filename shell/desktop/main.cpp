// tolvane: the desktop program. Lives in the notification area, receives 'net send' messages and
// shows each in a popup at the bottom-right corner of the screen. Takes no arguments.
#include "shell/desktop/quillon_app.h"
#include "shell/desktop/window_system.h"

int main(int argc, char** argv) {
    ChooseWindowSystem();
    CQuillonApp app(argc, argv);
    if (!app.InitInstance()) {
        return 1;
    }
    const int result = CQuillonApp::exec();
    app.ExitInstance();
    return result;
}
