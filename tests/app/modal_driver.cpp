#include "tests/app/modal_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>

TModalDriver::TModalDriver(QList<TModalAnswer> answers) : Answers_(std::move(answers)) {
    connect(&Timer_, &QTimer::timeout, this, &TModalDriver::Poll);
    Timer_.start(20);
}

void TModalDriver::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal->property("answeredByTest").toBool()) return;
    modal->setProperty("answeredByTest", true);
    const TModalAnswer answer = Answers_.isEmpty() ? TModalAnswer::Cancelled() : Answers_.takeFirst();
    if (answer.Kind == TModalAnswer::Act) {
        Seen_.append(modal->windowTitle() + QStringLiteral("|?"));
        answer.Action(modal);
    } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
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
    } else if (auto* pin = modal->findChild<QLineEdit*>(QStringLiteral("adminPinEdit"))) {
        // The administrator's PIN prompt: typed key by key through its validator.
        const auto* prompt = modal->findChild<QLabel*>();
        Seen_.append(modal->windowTitle() + QLatin1Char('|') + (prompt ? prompt->text() : QString()));
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (answer.Kind == TModalAnswer::Type) {
            for (const QChar c : answer.Text) pin->insert(QString(c));
            dialog->accept();
        } else {
            dialog->reject();
        }
    } else {
        Seen_.append(modal->windowTitle() + QStringLiteral("|?"));
        modal->close();
    }
}
