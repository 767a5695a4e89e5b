#include "tests/app/dialog_driver.h"

#include <QApplication>

TDialogDriver::TDialogDriver(QWidget* dialog, std::function<void(QWidget*)> act)
    : Dialog_(dialog), Act_(std::move(act)) {
    if (dialog) dialog->setProperty("answeredByTest", true);
    connect(&Timer_, &QTimer::timeout, this, &TDialogDriver::Poll);
    Timer_.start(20);
}

void TDialogDriver::Poll() {
    if (Done_ || !Dialog_ || QApplication::activeModalWidget() != Dialog_) return;
    Done_ = true;
    Timer_.stop();
    Act_(Dialog_);
}
