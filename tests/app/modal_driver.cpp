#include "tests/app/modal_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>

TModalDriver::TModalDriver(QList<TModalAnswer> answers) : Answers_(std::move(answers)) {
    connect(&Timer_, &QTimer::timeout, this, &TModalDriver::Poll);
    Timer_.start(20);
}

void TModalDriver::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal->property("answeredByTest").toBool()) return;
    modal->setProperty("answeredByTest", true);
    const TModalAnswer answer = Answers_.isEmpty() ? TModalAnswer::Cancelled() : Answers_.takeFirst();
    if (auto* input = qobject_cast<QInputDialog*>(modal)) {
        Seen_.append(input->windowTitle() + QLatin1Char('|') + input->labelText());
        Masked_.append(input->textEchoMode() != QLineEdit::Normal);
        if (answer.Kind == TModalAnswer::Type) {
            input->setTextValue(answer.Text);
            input->accept();
        } else {
            input->reject();
        }
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        Seen_.append(box->windowTitle() + QLatin1Char('|') + box->text());
        for (QAbstractButton* shown : box->buttons()) Buttons_.append(shown->text());
        QAbstractButton* button = answer.Kind == TModalAnswer::Press ? box->button(answer.Button) : nullptr;
        if (button)
            button->click();
        else
            box->done(QMessageBox::Cancel);
    } else {
        Seen_.append(modal->windowTitle() + QStringLiteral("|?"));
        modal->close();
    }
}
