// The booth's icon in the notification area: always there while the program
// runs, blinking between its two pictures, with a menu to bring the window
// back or close it.
#pragma once

#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QWidget;

class TBoothTray : public QObject {
    Q_OBJECT

public:
    // `window` owns the tray and its menu.
    explicit TBoothTray(QWidget* window);

    void Show();
    // The picture shown now, 0 or 1.
    int Frame() const { return Frame_; }

signals:
    void ShowRequested();
    void CloseRequested();

private:
    void Blink();

    QSystemTrayIcon* Icon_;  // children of this
    QTimer* Blink_;
    QMenu* Menu_;  // child of the window
    int Frame_ = 1;
};
