#include "app/kiosk_mode.h"

#include <QWidget>

void ApplyKioskMode(QWidget& window, bool kiosk) {
    // Changing the flags hides the window; it is shown again below.
    window.setWindowFlag(Qt::FramelessWindowHint, kiosk);
    window.setWindowFlag(Qt::WindowMinimizeButtonHint, !kiosk);
    window.setWindowFlag(Qt::WindowCloseButtonHint, !kiosk);
    if (kiosk)
        window.showFullScreen();
    else
        window.showNormal();
}

bool InKioskMode(const QWidget& window) {
    return window.isFullScreen() && window.windowFlags().testFlag(Qt::FramelessWindowHint);
}
