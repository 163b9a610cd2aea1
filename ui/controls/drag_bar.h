#pragma once

#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

// A caption strip: tiled with a gradient bitmap, showing its text, moving its window when dragged
// with the left button, and passing its children's commands on to its parent.
class tlDragBar : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kTileSize = 25;  // the square of the tile bitmap that is used
    static constexpr int kTextInset = 5;
    static constexpr int kTextHeight = 24;

    tlDragBar(int id, QWidget* parent);

    int id() const { return id_; }
    void SetText(const QString& text);
    const QString& text() const { return text_; }
    // Number of tiles a paint lays side by side: the width rounded up to whole tiles.
    static int TileCount(int width) { return width / kTileSize + (width % kTileSize != 0 ? 1 : 0); }
    bool IsDragging() const { return dragging_; }

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QWidget* MovedWindow() const;

    int id_;
    QString text_;
    QPixmap tile_;
    bool dragging_ = false;
    QRect start_;    // the window's rectangle on screen when the drag began
    QPoint offset_;  // pointer position minus the start rectangle's top-left, on screen
};
