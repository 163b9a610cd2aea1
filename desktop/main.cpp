// tolvane: the desktop program. Lives in the notification area, receives 'net send' messages and
// shows each in a popup at the bottom-right corner of the screen. Takes no arguments of its own
// besides --help and --version; Qt's (-platform, -display, -session, ...) are Qt's.
#include <cstdio>
#include <cstring>

#include "desktop/quillon_app.h"
#include "platform/system/version.h"
#include "ui/window_system.h"

namespace {

constexpr const char* kUsage =
    "usage: tolvane [--help | --version]\n"
    "Receives 'net send' messages and shows each in a popup at the corner of the screen; lives\n"
    "in the notification area until \"Exit Tolvane\". Qt's own options (-platform, -display, ...)\n"
    "are accepted.\n";

int Unknown(const char* argument) {
    std::fprintf(stderr, "tolvane: unknown argument: %s\nTry 'tolvane --help'.\n", argument);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt, which would need a display first. Qt's options have one dash.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tolvane (Tolvane Corvessan) %s\n", kTolvaneVersion);
            return 0;
        }
        if (std::strncmp(argv[i], "--", 2) == 0) {
            return Unknown(argv[i]);
        }
    }
    ChooseWindowSystem();
    CQuillonApp app(argc, argv);
    CQuillonApp::setApplicationVersion(QString::fromLatin1(kTolvaneVersion));
    // Qt has taken its own options out; whatever is left is no option of this program.
    if (argc > 1) {
        return Unknown(argv[1]);
    }
    if (!app.InitInstance()) {
        return 1;
    }
    const int result = CQuillonApp::exec();
    app.ExitInstance();
    return result;
}
