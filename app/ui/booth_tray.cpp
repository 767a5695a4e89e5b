#include "app/ui/booth_tray.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/booth/booth_texts.h"
#include "app/ui/pictures.h"

TBoothTray::TBoothTray(QWidget* window)
    : QObject(window), Icon_(new QSystemTrayIcon(this)), Blink_(new QTimer(this)), Menu_(new QMenu(window)) {
    setObjectName(QStringLiteral("boothTray"));
    Menu_->setObjectName(QStringLiteral("trayMenu"));
    QAction* title = Menu_->addAction(QString::fromUtf8(kAppTitle));
    title->setObjectName(QStringLiteral("trayTitleAction"));
    title->setEnabled(false);
    Menu_->addSeparator();
    QAction* show = Menu_->addAction(QStringLiteral("&Mostrar"));
    show->setObjectName(QStringLiteral("trayShowAction"));
    connect(show, &QAction::triggered, this, &TBoothTray::ShowRequested);
    QAction* close = Menu_->addAction(QStringLiteral("&Cerrar"));
    close->setObjectName(QStringLiteral("trayCloseAction"));
    connect(close, &QAction::triggered, this, &TBoothTray::CloseRequested);
    Icon_->setContextMenu(Menu_);
    Icon_->setToolTip(QString::fromUtf8(kAppTitle));
    Icon_->setIcon(BoothTrayIcon(Frame_));
    connect(Icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) emit ShowRequested();
    });
    Blink_->setInterval(1000);
    connect(Blink_, &QTimer::timeout, this, &TBoothTray::Blink);
}

void TBoothTray::Show() {
    // Without a notification area the icon would only warn; it blinks
    // unseen and is shown if one appears later.
    if (QSystemTrayIcon::isSystemTrayAvailable()) Icon_->show();
    Blink_->start();
}

void TBoothTray::Blink() {
    Frame_ = 1 - Frame_;
    Icon_->setIcon(BoothTrayIcon(Frame_));
}
