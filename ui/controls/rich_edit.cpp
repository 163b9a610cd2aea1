#include "ui/controls/rich_edit.h"

#include <QAbstractTextDocumentLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextDocument>
#include <cmath>

TlRichEdit::TlRichEdit(int id, QWidget* parent) : QTextEdit(parent), id_(id) {
    setReadOnly(true);
    setAcceptRichText(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setCursorWidth(0);  // the caret is never visible
    setContextMenuPolicy(Qt::NoContextMenu);
    setUndoRedoEnabled(false);
    document()->setDocumentMargin(0);
    setViewportMargins(0, 0, 0, 0);
}

void TlRichEdit::SetBackground(QColor colour) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, colour);
    palette.setColor(QPalette::Window, colour);
    setPalette(palette);
    viewport()->setAutoFillBackground(true);
}

void TlRichEdit::RequestResize() {
    // The layout wraps at the width the box has now; only the height follows the content.
    QTextDocument* doc = document();
    if (doc->revision() == measured_revision_ && width() == measured_width_) {
        return;
    }
    doc->setTextWidth(width());
    measured_revision_ = doc->revision();
    measured_width_ = width();
    requested_width_ = width();
    requested_height_ = static_cast<int>(std::ceil(doc->documentLayout()->documentSize().height()));
}

void TlRichEdit::paintEvent(QPaintEvent* event) {
    // The text and its selection, never a caret: the text box draws one even at width 0 on
    // screens of fractional scale.
    QPainter painter(viewport());
    const QPoint scrolled(horizontalScrollBar()->value(), verticalScrollBar()->value());
    painter.translate(-scrolled);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    context.clip = QRectF(event->rect().translated(scrolled));
    context.cursorPosition = -1;
    if (textCursor().hasSelection()) {
        QAbstractTextDocumentLayout::Selection selection;
        selection.cursor = textCursor();
        selection.format.setBackground(palette().brush(QPalette::Highlight));
        selection.format.setForeground(palette().brush(QPalette::HighlightedText));
        context.selections.append(selection);
    }
    document()->documentLayout()->draw(&painter, context);
}
