#include "ui/controls/tl_button.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

#include "ui/controls/command_event.h"
#include "ui/resources.h"
#include "ui/window_utils.h"

TlButton::TlButton(int id, QWidget* parent) : QWidget(parent), id_(id) {
    setMouseTracking(true);
    setAttribute(Qt::WA_NoSystemBackground);
    setCursor(Qt::ArrowCursor);
}

void TlButton::SetBitmaps(const QPixmap& normal, const QPixmap& hot) {
    normal_ = MakeKeyTransparent(normal, QColor::fromRgb(resources::kKeyColour));
    hot_bitmap_ = MakeKeyTransparent(hot, QColor::fromRgb(resources::kKeyColour));
    update();
}

void TlButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, hot_ ? hot_bitmap_ : normal_);
}

void TlButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        captured_ = true;
    }
    QWidget::mousePressEvent(event);
}

void TlButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // Deliberately not a press: see captured_.
    event->accept();
}

void TlButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    const bool inside = at.x() > 0 && at.x() < kClickSquare && at.y() > 0 && at.y() < kClickSquare;
    const bool armed = captured_;
    captured_ = false;
    if (armed && inside && parentWidget() != nullptr) {
        TlCommandEvent command(id_, this);
        QCoreApplication::sendEvent(parentWidget(), &command);
    }
    QWidget::mouseReleaseEvent(event);
}

void TlButton::mouseMoveEvent(QMouseEvent* event) {
    if (!hot_) {
        hot_ = true;
        update();
    }
    QWidget::mouseMoveEvent(event);
}

void TlButton::leaveEvent(QEvent* event) {
    hot_ = false;
    update();
    // The parent repaints what lies behind the transparent pixels.
    if (parentWidget() != nullptr) {
        parentWidget()->update(geometry());
    }
    QWidget::leaveEvent(event);
}
