#include "app/ui/message_boxes.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "app/booth/booth_texts.h"

namespace {

QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                 QMessageBox::StandardButtons buttons, Qt::WindowFlags extra = {}) {
    QCoreApplication::processEvents();
    QMessageBox box(icon, QString::fromUtf8(kAppTitle), text, buttons, parent);
    box.setObjectName(QStringLiteral("boothMessageBox"));
    if (extra) box.setWindowFlags(box.windowFlags() | extra);
    const auto answer = static_cast<QMessageBox::StandardButton>(box.exec());
    QCoreApplication::processEvents();
    return answer;
}

}  // namespace

void ShowMessage(QWidget* parent, const QString& text) {
    Show(parent, QMessageBox::Information, text, QMessageBox::Ok);
}

void ShowMessageOnTop(const QString& text) {
    Show(nullptr, QMessageBox::Information, text, QMessageBox::Ok, Qt::WindowStaysOnTopHint);
}

void ShowError(QWidget* parent, const QString& text) {
    Show(parent, QMessageBox::Critical, text, QMessageBox::Ok);
}

bool AskYesNo(QWidget* parent, const QString& text) {
    return Show(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}
