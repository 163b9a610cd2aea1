#include "ui/controls/static_link.h"

#include <QCoreApplication>
#include <QMouseEvent>

#include "ui/controls/command_event.h"

TlStaticLink::TlStaticLink(int id, const QString& text, QWidget* parent)
    : QLabel(text, parent), id_(id) {
    setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
    setMouseTracking(true);
    setAutoFillBackground(false);  // the parent's background shows through
    SetHot(false);
}

void TlStaticLink::SetHot(bool hot) {
    hot_ = hot;
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, TextColour());
    setPalette(palette);
}

void TlStaticLink::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

// The second press of a double click is swallowed like the first; its release clicks again.
void TlStaticLink::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

void TlStaticLink::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && parentWidget() != nullptr &&
        rect().contains(event->position().toPoint())) {
        QCoreApplication::postEvent(parentWidget(), new TlCommandEvent(id_, this));
    }
}

void TlStaticLink::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!hot_) {
        SetHot(true);
    }
}

void TlStaticLink::leaveEvent(QEvent* event) {
    SetHot(false);
    QLabel::leaveEvent(event);
}
