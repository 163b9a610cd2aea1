#include "ui/controls/drag_bar.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

#include "ui/controls/command_event.h"
#include "ui/resources.h"

tlDragBar::tlDragBar(int id, QWidget* parent)
    : QWidget(parent), id_(id), tile_(resources::LoadBitmap(resources::kBitmapCaptionTile)) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // the tiles cover the whole strip
    setCursor(Qt::ArrowCursor);
}

void tlDragBar::SetText(const QString& text) {
    text_ = text;
    update();
}

QWidget* tlDragBar::MovedWindow() const {
    return parentWidget();
}

bool tlDragBar::event(QEvent* event) {
    if (event->type() == TlCommandEvent::kType) {
        // Commands from the children go to the parent unchanged, and its answer comes back.
        if (QWidget* parent = parentWidget()) {
            auto* command = static_cast<TlCommandEvent*>(event);
            TlCommandEvent forwarded(command->id(), command->control());
            const bool handled = QCoreApplication::sendEvent(parent, &forwarded);
            event->setAccepted(forwarded.isAccepted());
            return handled;
        }
    }
    return QWidget::event(event);
}

void tlDragBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int count = TileCount(width());
    const qreal ratio = tile_.devicePixelRatio();
    const QRectF source(0, 0, kTileSize * ratio, kTileSize * ratio);
    for (int i = 0; i < count; ++i) {
        painter.drawPixmap(QRectF(kTileSize * i, 0, kTileSize, kTileSize), tile_, source);
    }
    painter.setFont(font());
    painter.setPen(Qt::black);
    const QRect text_rect(kTextInset, 0, width() - 2 * kTextInset, kTextHeight);
    painter.drawText(text_rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

void tlDragBar::mousePressEvent(QMouseEvent* event) {
    QWidget* window = MovedWindow();
    if (event->button() == Qt::LeftButton && window != nullptr) {
        dragging_ = true;
        start_ = window->frameGeometry();
        offset_ = event->globalPosition().toPoint() - start_.topLeft();
    }
    QWidget::mousePressEvent(event);
}

void tlDragBar::mouseMoveEvent(QMouseEvent* event) {
    QWidget* window = MovedWindow();
    if (dragging_ && window != nullptr) {
        // Only the position changes: the size is that of the start rectangle.
        window->move(event->globalPosition().toPoint() - offset_);
        window->raise();
        window->show();
    }
    QWidget::mouseMoveEvent(event);
}

void tlDragBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
    }
    QWidget::mouseReleaseEvent(event);
}
