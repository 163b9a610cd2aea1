// Draws the program's pictures (tray icons, close-button bitmaps, caption tile) into PNG files at
// 1x and 2x scale, and the program's icon also as SVG. The pictures are committed; run this again
// only when a picture changes:
//   tolvane-draw-pictures resources/pictures
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QSvgGenerator>
#include <cstdio>

namespace {

constexpr QRgb kKeyColour = qRgb(255, 0, 255);

bool Save(const QImage& image, const QDir& dir, const QString& name) {
    const QString path = dir.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// The speech bubble shared by the tray icons, in a 16-unit design grid scaled to size pixels.
QPainterPath Bubble(double s) {
    QPainterPath path;
    path.addRoundedRect(QRectF(1.0 * s, 1.5 * s, 14.0 * s, 10.0 * s), 3.0 * s, 3.0 * s);
    QPainterPath tail;
    tail.moveTo(3.5 * s, 10.5 * s);
    tail.lineTo(3.0 * s, 15.0 * s);
    tail.lineTo(8.0 * s, 10.5 * s);
    tail.closeSubpath();
    return path.united(tail);
}

enum class IconLook { Modern, Alternate, Classic };

// The tray icon in a 16-unit design grid scaled by s. Pixel pictures keep their strokes at least
// one pixel wide and, in the classic look, unsmoothed; the drawing for any size keeps the grid's
// proportions.
void PaintIcon(QPainter& p, double s, IconLook look, bool pixels) {
    const bool smooth = look != IconLook::Classic;
    p.setRenderHint(QPainter::Antialiasing, smooth);

    QColor fill_top, fill_bottom, outline, lines;
    switch (look) {
        case IconLook::Modern:
            fill_top = QColor(255, 253, 219);
            fill_bottom = QColor(255, 197, 25);
            outline = QColor(176, 120, 0);
            lines = QColor(0, 0, 128);
            break;
        case IconLook::Alternate:
            fill_top = QColor(255, 176, 64);
            fill_bottom = QColor(230, 80, 0);
            outline = QColor(128, 32, 0);
            lines = QColor(255, 255, 255);
            break;
        case IconLook::Classic:  // the flat colours of a 16-colour palette
            fill_top = fill_bottom = QColor(255, 255, 0);
            outline = QColor(0, 0, 0);
            lines = QColor(0, 0, 128);
            break;
    }
    QLinearGradient gradient(0, 1.5 * s, 0, 11.5 * s);
    gradient.setColorAt(0, fill_top);
    gradient.setColorAt(1, fill_bottom);
    const QPainterPath bubble = Bubble(s);
    p.fillPath(bubble, gradient);
    double outline_width = s * 0.9;
    if (pixels) {
        outline_width = smooth ? std::max(1.0, s * 0.9) : 1.0;
    }
    p.setPen(QPen(outline, outline_width));
    p.drawPath(bubble);

    // Three lines of "text" inside the bubble.
    const double pen = pixels ? std::max(1.0, std::round(s * 1.2)) : s * 1.2;
    p.setPen(QPen(lines, pen, Qt::SolidLine, Qt::FlatCap));
    const double left = 4.0 * s;
    const double widths[] = {8.0, 6.5, 4.5};
    for (int i = 0; i < 3; ++i) {
        const double y = (4.5 + 2.5 * i) * s;
        p.drawLine(QPointF(left, y), QPointF(left + widths[i] * s, y));
    }
}

QImage DrawIcon(int size, IconLook look) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    PaintIcon(p, size / 16.0, look, true);
    return image;
}

// The same picture for any size, for the icon theme's scalable folder.
bool SaveIconSvg(IconLook look, const QDir& dir, const QString& name) {
    constexpr int kSize = 256;
    QSvgGenerator svg;
    svg.setFileName(dir.filePath(name));
    svg.setSize(QSize(kSize, kSize));
    svg.setViewBox(QRect(0, 0, kSize, kSize));
    svg.setTitle(QStringLiteral("Tolvane Corvessan"));
    QPainter p;
    if (!p.begin(&svg)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(dir.filePath(name)));
        return false;
    }
    PaintIcon(p, kSize / 16.0, look, false);
    return p.end();
}

// A cross of two diagonal strokes, drawn pixel by pixel so that no blended colour appears next
// to the key colour.
void DrawCross(QImage& image, int scale, QRect box, QRgb colour) {
    const int thickness = 2 * scale;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            const int dx = x - box.left();
            const int dy = y - box.top();
            const int n = box.width() - 1;
            if (std::abs(dx - dy) < thickness / 2 + 1 ||
                std::abs(dx + dy - n) < thickness / 2 + 1) {
                image.setPixel(x, y, colour);
            }
        }
    }
}

QImage DrawCloseNormal(int scale) {
    const int size = 17 * scale;
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(kKeyColour);
    DrawCross(image, scale, QRect(5 * scale, 5 * scale, 7 * scale, 7 * scale), qRgb(96, 96, 96));
    return image;
}

QImage DrawCloseHot(int scale) {
    const int size = 17 * scale;
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(qRgb(252, 250, 240));
    for (int i = 0; i < size; ++i) {
        for (int t = 0; t < scale; ++t) {
            const QRgb frame = qRgb(128, 128, 128);
            image.setPixel(i, t, frame);
            image.setPixel(i, size - 1 - t, frame);
            image.setPixel(t, i, frame);
            image.setPixel(size - 1 - t, i, frame);
        }
    }
    DrawCross(image, scale, QRect(5 * scale, 5 * scale, 7 * scale, 7 * scale), qRgb(214, 0, 0));
    return image;
}

// The caption tile: a vertical gradient, solid in its top seven rows, then fading to the pale
// colour in its bottom row.
QImage DrawTile(int scale) {
    const int width = 70 * scale;
    const int height = 25 * scale;
    QImage image(width, height, QImage::Format_RGB32);
    const QColor top(255, 197, 25);
    const QColor bottom(255, 253, 219);
    const int solid = 7 * scale;
    for (int y = 0; y < height; ++y) {
        double t = 0.0;
        if (y >= solid) {
            t = double(y - solid + 1) / double(height - solid);
        }
        const QRgb c = qRgb(int(std::lround(top.red() + (bottom.red() - top.red()) * t)),
                            int(std::lround(top.green() + (bottom.green() - top.green()) * t)),
                            int(std::lround(top.blue() + (bottom.blue() - top.blue()) * t)));
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, c);
        }
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    // The program's icon also at the icon theme's other usual sizes.
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        ok &= Save(DrawIcon(size, IconLook::Modern), dir, QString("icon128_%1.png").arg(size));
    }
    ok &= SaveIconSvg(IconLook::Modern, dir, "icon128.svg");
    for (int size : {16, 32}) {
        ok &= Save(DrawIcon(size, IconLook::Classic), dir, QString("icon131_%1.png").arg(size));
    }
    for (int size : {16, 24, 32, 48, 64}) {
        ok &= Save(DrawIcon(size, IconLook::Alternate), dir, QString("icon133_%1.png").arg(size));
    }
    ok &= Save(DrawCloseNormal(1), dir, "bitmap504.png");
    ok &= Save(DrawCloseNormal(2), dir, "bitmap504@2x.png");
    ok &= Save(DrawCloseHot(1), dir, "bitmap505.png");
    ok &= Save(DrawCloseHot(2), dir, "bitmap505@2x.png");
    ok &= Save(DrawTile(1), dir, "bitmap529.png");
    ok &= Save(DrawTile(2), dir, "bitmap529@2x.png");
    return ok ? 0 : 1;
}
