// Answers the modal dialogs that the code under test opens (input boxes and
// message boxes), in the order given, from a timer: the code under test runs
// its own nested event loop and never returns to the test while a box is up.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

struct TModalAnswer {
    enum TKind { Type, Cancel, Press };
    TKind Kind = Cancel;
    QString Text;                                               // for Type
    QMessageBox::StandardButton Button = QMessageBox::NoButton;  // for Press

    static TModalAnswer Typed(const QString& text) { return {Type, text, QMessageBox::NoButton}; }
    static TModalAnswer Cancelled() { return {Cancel, QString(), QMessageBox::NoButton}; }
    static TModalAnswer Pressed(QMessageBox::StandardButton button) { return {Press, QString(), button}; }
};

class TModalDriver : public QObject {
    Q_OBJECT

public:
    explicit TModalDriver(QList<TModalAnswer> answers = {});

    // Each box seen, as "caption|text"; boxes beyond the answers given are
    // closed (cancel or escape) and recorded all the same.
    const QStringList& Seen() const { return Seen_; }
    int Unanswered() const { return static_cast<int>(Answers_.size()); }
    // For each input box seen, whether it hid what was typed.
    const QList<bool>& Masked() const { return Masked_; }
    // The button texts of every message box seen, in order.
    const QStringList& Buttons() const { return Buttons_; }

private:
    void Poll();

    QList<TModalAnswer> Answers_;
    QStringList Seen_;
    QList<bool> Masked_;
    QStringList Buttons_;
    QTimer Timer_;
};
