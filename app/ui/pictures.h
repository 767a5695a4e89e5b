// The booth's pictures, drawn at build time and kept in the program's
// resources: the logo (a JPEG, read through Qt's JPEG plugin), the window
// icon and the two tray icons.
#pragma once

#include <QIcon>
#include <QPixmap>

inline constexpr int kLogoWidth = 433;
inline constexpr int kLogoHeight = 105;

// Null when the picture cannot be decoded.
QPixmap BoothLogo();
QIcon BoothWindowIcon();
// Frame 0 or 1 of the tray icon's blinking pair.
QIcon BoothTrayIcon(int frame);
