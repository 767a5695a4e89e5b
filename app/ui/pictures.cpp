#include "app/ui/pictures.h"

#include <QImageReader>

// The resources live in a static library: the linker keeps them only when
// something calls their initialiser (which must sit outside any namespace).
static void InitPictures() {
    static const bool done = [] {
        Q_INIT_RESOURCE(booth_pictures);
        return true;
    }();
    (void)done;
}

QPixmap BoothLogo() {
    InitPictures();
    QImageReader reader(QStringLiteral(":/resources/logo.jpg"), "jpeg");
    return QPixmap::fromImage(reader.read());
}

QIcon BoothWindowIcon() {
    InitPictures();
    QIcon icon;
    icon.addFile(QStringLiteral(":/resources/window_icon_16.png"));
    icon.addFile(QStringLiteral(":/resources/window_icon_32.png"));
    icon.addFile(QStringLiteral(":/resources/window_icon_48.png"));
    return icon;
}

QIcon BoothTrayIcon(int frame) {
    InitPictures();
    return QIcon(frame == 0 ? QStringLiteral(":/resources/tray_1.png") : QStringLiteral(":/resources/tray_2.png"));
}
