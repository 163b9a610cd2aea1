#pragma once

#include <QColor>
#include <QLabel>

// A text label that acts as a link: navy text, orange while the pointer is over it, and a
// command posted to its parent on each release of the left button over it. Its font is its
// parent's business.
class TlStaticLink : public QLabel {
    Q_OBJECT
  public:
    static constexpr QRgb kNormalColour = qRgb(0, 0, 128);
    static constexpr QRgb kHoverColour = qRgb(255, 128, 0);

    TlStaticLink(int id, const QString& text, QWidget* parent);

    int id() const { return id_; }
    bool IsHot() const { return hot_; }
    // The colour the text is drawn in now.
    QColor TextColour() const {
        return hot_ ? QColor::fromRgb(kHoverColour) : QColor::fromRgb(kNormalColour);
    }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    void SetHot(bool hot);

    int id_;
    bool hot_ = false;
};
