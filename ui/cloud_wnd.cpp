#include "ui/cloud_wnd.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "ui/window_system.h"
#include "ui/window_utils.h"

namespace {

std::atomic<long long> g_second_ms{1000};

}  // namespace

TlCloudWnd::TlCloudWnd(QWidget* owner) : QWidget(owner, Qt::Window) {
    // A top-level pop-up owned by the owner: no frame, always on top, no taskbar entry.
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    if (!IsWindowsXPOrLater()) {
        flags |= Qt::NoDropShadowWindowHint;
    }
    if (OnXWayland()) {
        // Left alone by the compositor: shown where UpdateLayout puts it, never focused by it.
        flags |= Qt::X11BypassWindowManagerHint;
        qApp->installEventFilter(this);
    }
    setWindowFlags(flags);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QString());
    setCursor(Qt::ArrowCursor);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(kBackground));
    setPalette(palette);
    setAutoFillBackground(true);
    TlCloudWnd::UpdateLayout();
}

TlCloudWnd::~TlCloudWnd() = default;

void TlCloudWnd::SetSecondLength(std::chrono::milliseconds length) {
    g_second_ms.store(length.count() > 0 ? length.count() : 1);
}

void TlCloudWnd::Popup() {
    UpdateContent(0);
    show();
    raise();
    RestartAutoCloseTimer();
}

void TlCloudWnd::SetAutoCloseTime(int seconds) {
    auto_close_seconds_ = seconds;
    RestartAutoCloseTimer();
}

void TlCloudWnd::RestartAutoCloseTimer() {
    auto_close_.stop();
    if (auto_close_seconds_ > 0) {
        // Bounded so that a huge setting cannot overflow the timer's millisecond count.
        const long long ms =
            std::min<long long>(static_cast<long long>(auto_close_seconds_) * g_second_ms.load(),
                                std::numeric_limits<int>::max());
        auto_close_.start(static_cast<int>(ms), Qt::PreciseTimer, this);
    }
}

void TlCloudWnd::StopAutoCloseTimer() {
    auto_close_.stop();
}

QSize TlCloudWnd::GetDesiredSize() const {
    return {kWidth, kDefaultHeight};
}

void TlCloudWnd::UpdateContent(int) {
    UpdateLayout();
}

QRect TlCloudWnd::PlaceOnScreen(const QRect& screen, const QRect& work_area, int height) {
    const QRect work = work_area.isValid() ? work_area & screen : screen;
    const int right =
        std::min(screen.left() + screen.width(), work.left() + work.width()) - kRightMargin;
    const int bottom = std::min(screen.top() + screen.height() - kBottomMargin,
                                work.top() + work.height() - kPanelGap);
    return {right - kWidth, bottom - height, kWidth, height};
}

QRegion TlCloudWnd::RoundedRegion(int width, int height, int corner) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    // Each corner is a quarter of a corner x corner ellipse; rows between the corners are full.
    const double r = corner / 2.0;
    const int rows = std::min(corner / 2, height / 2);
    QRegion region(0, rows, width, height - 2 * rows);
    for (int y = 0; y < rows; ++y) {
        const double dy = r - (y + 0.5);
        const double dx = r * std::sqrt(std::max(0.0, 1.0 - (dy * dy) / (r * r)));
        const int inset = std::clamp(static_cast<int>(std::lround(r - dx)), 0, width / 2);
        region += QRect(inset, y, width - 2 * inset, 1);
        region += QRect(inset, height - 1 - y, width - 2 * inset, 1);
    }
    return region;
}

void TlCloudWnd::UpdateLayout() {
    const int height = GetDesiredSize().height();
    QRect screen(0, 0, 1024, 768);
    QRect work_area;
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        screen = primary->geometry();
        work_area = primary->availableGeometry();
    }
    laying_out_ = true;
    setGeometry(PlaceOnScreen(screen, work_area, height));
    laying_out_ = false;
    setMask(RoundedRegion(kWidth, height, kRegionCorner));
}

bool TlCloudWnd::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::WindowActivate:
            StopAutoCloseTimer();
            break;
        case QEvent::WindowDeactivate:
            RestartAutoCloseTimer();
            break;
        case QEvent::Leave:
            if (worked_in_) {
                worked_in_ = false;
                RestartAutoCloseTimer();
            }
            break;
        default:
            break;
    }
    return QWidget::event(event);
}

void TlCloudWnd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!laying_out_) {
        UpdateLayout();
    }
}

void TlCloudWnd::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    UpdateContent(0);
}

void TlCloudWnd::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    UpdateContent(0);
}

void TlCloudWnd::closeEvent(QCloseEvent* event) {
    // Closing (Alt+F4 and the like) only hides; the owner decides when the window goes.
    event->ignore();
    hide();
}

void TlCloudWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QColor::fromRgb(kOutline), 1));
    painter.setBrush(Qt::NoBrush);
    const qreal radius = kOutlineCorner / 2.0;
    painter.drawRoundedRect(QRectF(0.5, 0.5, width() - 2, height() - 2), radius, radius);
}

bool TlCloudWnd::eventFilter(QObject* watched, QEvent* event) {
    // A window the compositor leaves alone is never activated, not even by a click into it. The
    // click stops the countdown as activation would, and the pointer leaving the window restarts
    // it as deactivation would.
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        StopAutoCloseTimer();
        worked_in_ = true;
    }
    return QWidget::eventFilter(watched, event);
}

void TlCloudWnd::timerEvent(QTimerEvent* event) {
    if (event->timerId() == auto_close_.timerId()) {
        auto_close_.stop();
        hide();
    }
    // Any other timer is not this window's business.
}
