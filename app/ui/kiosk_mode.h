// Kiosk mode, for booths where customers dial themselves: the booth's window
// fills the screen without a title bar or frame and stays above every other
// window, so it cannot be moved, minimised, covered or closed from the
// window manager; only the administrator PIN closes the program.
#pragma once

#include <Qt>

class QWidget;

// Puts a top-level window into kiosk mode (true) or back to a window with
// the `decorated` flags it had before (false), and shows it.
void ApplyKioskMode(QWidget& window, bool kiosk, Qt::WindowFlags decorated);

// Whether the window is shown as kiosk mode leaves it.
bool InKioskMode(const QWidget& window);
