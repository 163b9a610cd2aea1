#pragma once

#include <QIcon>
#include <QPixmap>

// The program's pictures, addressed by their resource ids.
namespace resources {

inline constexpr int kIconNormal = 128;         // tray icon at rest on current desktops
inline constexpr int kIconNormalClassic = 131;  // tray icon at rest, flat 16-colour look
inline constexpr int kIconAlternate = 133;      // second image of the blinking tray icon
inline constexpr int kBitmapCloseNormal = 504;  // 17 x 17, grey cross on the key colour
inline constexpr int kBitmapCloseHot = 505;     // 17 x 17, red cross on a framed light square
inline constexpr int kBitmapCaptionTile = 529;  // 70 x 25, vertical gradient

// Pixels of this colour in the close-button bitmaps are transparent.
inline constexpr QRgb kKeyColour = qRgb(255, 0, 255);

// All sizes drawn for the icon; a null icon for an unknown id.
QIcon LoadIcon(int id);
// The bitmap at 1x, or at 2x (device pixel ratio 2) when the screen asks for it; a null pixmap
// for an unknown id.
QPixmap LoadBitmap(int id);

}  // namespace resources
