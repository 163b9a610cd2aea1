#pragma once

#include <QBasicTimer>
#include <QRegion>
#include <QSize>
#include <QWidget>
#include <chrono>

// The rounded popup window: borderless, always on top, pale yellow with a gold outline, placed
// near the bottom-right corner of the primary screen's work area (clear of its panels), shown
// without taking the focus, and hidden again after an auto-close period unless the user is working
// in it. It never destroys itself; closing only hides it. Derived windows supply their size and
// content.
class TlCloudWnd : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kWidth = 300;
    static constexpr int kDefaultHeight = 150;
    static constexpr int kRightMargin = 15;    // from the screen's right edge to the window's
    static constexpr int kBottomMargin = 40;   // from the screen's bottom edge to the window's
    static constexpr int kPanelGap = 15;       // at least, from the work area's bottom edge
    static constexpr int kRegionCorner = 12;   // corner ellipse of the window's shape
    static constexpr int kOutlineCorner = 16;  // corner ellipse of the painted outline
    static constexpr QRgb kBackground = qRgb(255, 255, 225);
    static constexpr QRgb kOutline = qRgb(255, 224, 119);
    static constexpr int kAutoCloseTimerId = 123;

    // owner: the window that owns the popup (it stays a top-level window of its own).
    explicit TlCloudWnd(QWidget* owner);
    ~TlCloudWnd() override;

    // Refreshes the content, shows the window without activating it and starts the countdown.
    void Popup();
    // Seconds until the window hides itself; 0 keeps it until the user closes it. Restarts the
    // countdown from the full period.
    void SetAutoCloseTime(int seconds);
    int AutoCloseTime() const { return auto_close_seconds_; }
    void RestartAutoCloseTimer();
    void StopAutoCloseTimer();
    bool IsAutoCloseRunning() const { return auto_close_.isActive(); }

    // Length of one second of the auto-close period for every popup; tests shorten it.
    static void SetSecondLength(std::chrono::milliseconds length);

    // Arranges the window: sizes it to kWidth by the desired height, places it at the corner of
    // the primary screen and gives it its rounded shape. Derived windows arrange their children
    // first and then call this.
    virtual void UpdateLayout();
    // The size the window wants; only the height is used.
    virtual QSize GetDesiredSize() const;
    // Refreshes what the window shows, then lays it out. The reason is always 0.
    virtual void UpdateContent(int reason);

    // Where a window of the given height goes on a screen with the given geometry and work area
    // (the screen less its panels): the margins from the screen's edges, moved in as far as it
    // takes to stay clear of a panel at the right or bottom edge, whatever its size.
    static QRect PlaceOnScreen(const QRect& screen, const QRect& work_area, int height);
    // The rounded shape of a w x h window whose corners follow a corner x corner ellipse.
    static QRegion RoundedRegion(int width, int height, int corner);

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    int auto_close_seconds_ = 0;
    QBasicTimer auto_close_;
    bool laying_out_ = false;
    bool worked_in_ = false;  // clicked into while the compositor leaves the window alone
};
