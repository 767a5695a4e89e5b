// Kiosk mode, for booths where customers dial themselves: the booth's window
// fills the screen without a title bar or frame, so it cannot be moved,
// minimised or closed from the window manager; only the administrator PIN
// closes the program.
#pragma once

class QWidget;

// Puts a top-level window into kiosk mode (true) or back to a normal
// decorated window (false), and shows it.
void ApplyKioskMode(QWidget& window, bool kiosk);

// Whether the window is shown as kiosk mode leaves it.
bool InKioskMode(const QWidget& window);
