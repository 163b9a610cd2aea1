#include "ui/window_system.h"

#include <QGuiApplication>
#include <QtGlobal>

void ChooseWindowSystem() {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("DISPLAY") ||
        qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        return;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
}

bool OnXWayland() {
    return QGuiApplication::platformName() == QLatin1String("xcb") &&
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
