#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

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

// A copy of the picture in which every pixel of the key colour is transparent; the device pixel
// ratio is kept.
QPixmap MakeKeyTransparent(const QPixmap& picture, QColor key);

// Draws the picture with its top-left corner at (x, y), leaving pixels of the key colour out; the
// picture itself is not changed.
void DrawTransparentBitmap(QPainter& painter, const QPixmap& picture, int x, int y, QColor key);
