// Acts on one of the booth's own dialogs once the code under test shows it
// modally (its exec() never returns to the test while it is up). The dialog
// is marked so a TModalDriver running at the same time leaves it alone.
#pragma once

#include <functional>

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class TDialogDriver : public QObject {
    Q_OBJECT

public:
    TDialogDriver(QWidget* dialog, std::function<void(QWidget*)> act);

    // Whether the dialog was shown and acted on.
    bool Done() const { return Done_; }

private:
    void Poll();

    QPointer<QWidget> Dialog_;
    std::function<void(QWidget*)> Act_;
    QTimer Timer_;
    bool Done_ = false;
};
