#pragma once

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

// Delivers one mouse event straight to the widget, at a point in its own coordinates.
inline bool SendMouse(QWidget* widget, QEvent::Type type, QPoint local,
                      Qt::MouseButton button = Qt::LeftButton) {
    const QPointF global = widget->mapToGlobal(QPointF(local));
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease || type == QEvent::MouseMove ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(local), QPointF(local), global,
                      type == QEvent::MouseMove ? Qt::NoButton : button, buttons, Qt::NoModifier);
    return QCoreApplication::sendEvent(widget, &event);
}

// A mouse event at an explicit screen position (for drags, whose window moves under the
// pointer).
inline bool SendMouseAt(QWidget* widget, QEvent::Type type, QPoint local, QPoint global,
                        Qt::MouseButton button = Qt::LeftButton) {
    QMouseEvent event(type, QPointF(local), QPointF(local), QPointF(global),
                      type == QEvent::MouseMove ? Qt::NoButton : button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button),
                      Qt::NoModifier);
    return QCoreApplication::sendEvent(widget, &event);
}

inline void SendLeave(QWidget* widget) {
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}
