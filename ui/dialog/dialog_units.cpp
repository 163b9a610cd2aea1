#include "ui/dialog/dialog_units.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <cmath>
#include <cstdlib>

#include "resources/dialogs/dialog_template.h"
#include "ui/window_utils.h"

namespace {

constexpr int kDotsPerInch = 96;
constexpr int kPointsPerInch = 72;
constexpr int kGuiFontPoints = 8;
// The dialogs were laid out for a font whose units are 6 by 13 pixels; the options window and
// the about box give them no more room than that.
constexpr int kDesignBaseX = 6;
constexpr int kDesignBaseY = 13;
constexpr int kSmallestPixels = 8;

// The general font at the size asked for, made smaller while it is wider or taller than the
// layouts allow (the desktop's font may be wider than the one they were drawn for), so that no
// control is cut off at the edge of its window.
QFont GeneralFontAtPoints(int points) {
    QFont font = DesktopFont();
    int pixels = MulDivRound(points, kDotsPerInch, kPointsPerInch);
    font.setPixelSize(pixels);
    while (pixels > kSmallestPixels) {
        const TlDialogUnits units = TlDialogUnits::FromFont(font);
        if (units.base_x() <= kDesignBaseX && units.base_y() <= kDesignBaseY) {
            break;
        }
        font.setPixelSize(--pixels);
    }
    return font;
}

}  // namespace

int MulDivRound(int a, int b, int c) {
    if (c == 0) {
        return -1;
    }
    const long long product = static_cast<long long>(a) * b;
    const long long half = std::llabs(static_cast<long long>(c)) / 2;
    const bool negative = (product < 0) != (c < 0);
    const long long magnitude =
        (std::llabs(product) + half) / std::llabs(static_cast<long long>(c));
    return static_cast<int>(negative ? -magnitude : magnitude);
}

TlDialogUnits TlDialogUnits::FromFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int base_x = (letters / 26 + 1) / 2;
    // The height a line takes in whole pixels: rounded down, a label one unit-height tall would
    // lose the bottom of its letters. A font that measures nothing still gives a usable grid.
    const int base_y = static_cast<int>(std::ceil(QFontMetricsF(font).height()));
    return TlDialogUnits(base_x > 0 ? base_x : 1, base_y > 0 ? base_y : 1);
}

int TlDialogUnits::ToPixelsX(int units) const {
    return MulDivRound(units, base_x_, 4);
}

int TlDialogUnits::ToPixelsY(int units) const {
    return MulDivRound(units, base_y_, 8);
}

QRect TlDialogUnits::ToPixels(int x, int y, int cx, int cy) const {
    // Both corners are converted, as the desktop of origin maps a rectangle, so that adjacent
    // controls stay adjacent.
    const int left = ToPixelsX(x);
    const int top = ToPixelsY(y);
    const int right = ToPixelsX(x + cx);
    const int bottom = ToPixelsY(y + cy);
    return QRect(left, top, right - left, bottom - top);
}

QFont DialogFont(const dialogs::DialogTemplate& dialog) {
    return GeneralFontAtPoints(dialog.font_points > 0 ? dialog.font_points : kGuiFontPoints);
}

QFont GuiFont() {
    return GeneralFontAtPoints(kGuiFontPoints);
}
