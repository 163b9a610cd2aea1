#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

class QLabel;
class QPainter;

// Puts text on the desktop's clipboard. The program's text is UTF-8 throughout, which is also
// the desktop's code page, so the text goes there as it is.
class TlClipboard {
  public:
    virtual ~TlClipboard() = default;
    virtual void CopyText(const QString& text);
};

// Current desktops composite windows with shadows and show 32-bit icons; the program only runs
// on such desktops.
bool IsWindowsXPOrLater();

// Resizes the label to its text in its own font: text width plus 2 pixels by the text height,
// keeping its position.
void FitLabelToText(QLabel* label);

// The desktop's general font, as the application has it from the desktop.
QFont DesktopFont();

// Fonts below this many pixels are not made to fit: they would no longer be legible.
inline constexpr int kSmallestFitPixels = 7;
// The font made a pixel smaller at a time until each text fits a room of that size on one line.
QFont FontToFit(QFont font, const QStringList& texts, QSize room);

// A copy of the picture in which every pixel of the key colour is transparent; the device pixel
// ratio is kept.
QPixmap MakeKeyTransparent(const QPixmap& picture, QColor key);

// Draws the picture with its top-left corner at (x, y), leaving pixels of the key colour out; the
// picture itself is not changed.
void DrawTransparentBitmap(QPainter& painter, const QPixmap& picture, int x, int y, QColor key);
