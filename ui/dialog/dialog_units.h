#pragma once

#include <QFont>
#include <QRect>

namespace dialogs {
struct DialogTemplate;
}

// Dialog units to pixels, from the dialog font: one unit across is a quarter of the font's
// average character width (the average of the 52 Latin letters, halved and rounded up as the
// desktop of origin does), one unit down an eighth of its height.
class TlDialogUnits {
  public:
    TlDialogUnits(int base_x, int base_y) : base_x_(base_x), base_y_(base_y) {}
    static TlDialogUnits FromFont(const QFont& font);

    int base_x() const { return base_x_; }
    int base_y() const { return base_y_; }

    int ToPixelsX(int units) const;
    int ToPixelsY(int units) const;
    // A rectangle given as left, top, width, height in dialog units.
    QRect ToPixels(int x, int y, int cx, int cy) const;

  private:
    int base_x_;
    int base_y_;
};

// a × b / c rounded to the nearest whole number (halves away from zero), without overflow for
// the sizes dialogs use.
int MulDivRound(int a, int b, int c);

// The font a template asks for, on this desktop: the desktop's general font family at the
// template's size in pixels at 96 dots per inch (so that the fixed pixel layouts of the windows
// hold whatever the desktop's font size), a pixel or two smaller where the family is too wide
// for the layouts: its dialog units are at most 6 by 13 pixels.
QFont DialogFont(const dialogs::DialogTemplate& dialog);
// The small font of the desktop's controls that dialogs and the options window set on their
// controls: the same family at 8 points, fitted the same way.
QFont GuiFont();
