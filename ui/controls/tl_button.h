#pragma once

#include <QPixmap>
#include <QWidget>

// A push button drawn only with two bitmaps, normal and hot (pointer over it). A release of the
// left button that follows a press on it, inside the fixed click square, sends its parent a
// command at once. Pixels of the key colour in the bitmaps are transparent.
class TlButton : public QWidget {
    Q_OBJECT
  public:
    // A release at 0 < x < 25 and 0 < y < 25 (client coordinates) clicks, whatever the button's
    // size, so a small button also takes releases just beyond its right and bottom edges.
    static constexpr int kClickSquare = 25;

    TlButton(int id, QWidget* parent);

    int id() const { return id_; }
    // Takes both pictures; the key colour is made transparent here, once.
    void SetBitmaps(const QPixmap& normal, const QPixmap& hot);
    bool IsHot() const { return hot_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    int id_;
    QPixmap normal_;
    QPixmap hot_bitmap_;
    bool hot_ = false;
    // Set by a single press only: the second press of a double click does not arm the button,
    // so a double click gives one command.
    bool captured_ = false;
};
