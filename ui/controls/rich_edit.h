#pragma once

#include <QTextEdit>

// A read-only text box without border, scroll bars or visible caret that reports the size its
// content needs. Text is always plain: nothing a sender writes is taken as markup. Text can still
// be selected and scrolled with the mouse and the keyboard.
class TlRichEdit : public QTextEdit {
    Q_OBJECT
  public:
    TlRichEdit(int id, QWidget* parent);

    int id() const { return id_; }
    // Works out the size the current text needs at the box's current width; afterwards
    // RequestedWidth/RequestedHeight hold it.
    void RequestResize();
    int RequestedWidth() const { return requested_width_; }
    int RequestedHeight() const { return requested_height_; }

    void SetBackground(QColor colour);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int id_;
    int requested_width_ = 0;
    int requested_height_ = 0;
    // The text and width the requested size was worked out for: asking again costs nothing.
    int measured_revision_ = -1;
    int measured_width_ = -1;
};
