#include "app/ui/kiosk_mode.h"

#include <QLayout>
#include <QScreen>
#include <QWidget>

namespace {

constexpr Qt::WindowFlags kKioskFlags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;

}  // namespace

void ApplyKioskMode(QWidget& window, bool kiosk, Qt::WindowFlags decorated) {
    // The whole set at once: Qt adds the usual buttons back to a window
    // whose hints are changed one by one. Changing the flags hides the
    // window; it is shown again below.
    window.setWindowFlags(kiosk ? kKioskFlags : decorated);
    // The booth's window keeps the size of its controls; the screen is
    // larger, so the constraint is lifted while in kiosk mode.
    if (QLayout* layout = window.layout())
        layout->setSizeConstraint(kiosk ? QLayout::SetDefaultConstraint : QLayout::SetFixedSize);
    if (!kiosk) {
        window.showNormal();
        return;
    }
    window.setMinimumSize(0, 0);
    window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    // Without a window manager (a bare X server at a booth) nobody acts on
    // the full-screen request: the window takes the screen itself.
    if (const QScreen* screen = window.screen()) window.setGeometry(screen->geometry());
    window.showFullScreen();
}

bool InKioskMode(const QWidget& window) {
    return window.isFullScreen() && (window.windowFlags() & kKioskFlags) == kKioskFlags;
}
