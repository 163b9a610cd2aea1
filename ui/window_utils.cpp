#include "ui/window_utils.h"

#include <QClipboard>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmapCache>

void TlClipboard::CopyText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) {
        return;  // no clipboard: nothing is copied and nothing reported
    }
    clipboard->setText(text, QClipboard::Clipboard);
}

bool IsWindowsXPOrLater() {
    return true;
}

void FitLabelToText(QLabel* label) {
    if (label == nullptr) {
        return;
    }
    const QFontMetrics metrics(label->font());
    const QSize text = metrics.size(Qt::TextSingleLine, label->text());
    if (text.isEmpty() && !label->text().isEmpty()) {
        return;  // measuring failed: leave the label as it is
    }
    label->resize(text.width() + 2, text.height());
}

QFont DesktopFont() {
    return QGuiApplication::font();
}

QFont FontToFit(QFont font, const QStringList& texts, QSize room) {
    auto fits = [&] {
        const QFontMetricsF metrics(font);
        if (metrics.height() > room.height()) {
            return false;
        }
        for (const QString& text : texts) {
            if (metrics.horizontalAdvance(text) > room.width()) {
                return false;
            }
        }
        return true;
    };
    int pixels = QFontInfo(font).pixelSize();
    while (!fits() && pixels > kSmallestFitPixels) {
        font.setPixelSize(--pixels);
    }
    return font;
}

QPixmap MakeKeyTransparent(const QPixmap& picture, QColor key) {
    if (picture.isNull()) {
        return picture;
    }
    const QString cache_key =
        QStringLiteral("tolvane/transparent/%1/%2").arg(picture.cacheKey()).arg(key.rgb());
    QPixmap cached;
    if (QPixmapCache::find(cache_key, &cached)) {
        return cached;
    }
    QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb key_rgb = key.rgb() | 0xFF000000u;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] | 0xFF000000u) == key_rgb && qAlpha(line[x]) == 255) {
                line[x] = qRgba(0, 0, 0, 0);
            }
        }
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(picture.devicePixelRatio());
    QPixmapCache::insert(cache_key, result);
    return result;
}

void DrawTransparentBitmap(QPainter& painter, const QPixmap& picture, int x, int y, QColor key) {
    painter.drawPixmap(x, y, MakeKeyTransparent(picture, key));
}
