// The administrator's PIN prompt, in Spanish, with the digits hidden.
#pragma once

#include <optional>

#include <QDialog>
#include <QString>

class QLineEdit;

class TPinDialog : public QDialog {
    Q_OBJECT

public:
    // `prompt` is the line above the field (the administrator's prompt when empty).
    explicit TPinDialog(QWidget* parent = nullptr, const QString& prompt = QString());
    QString Pin() const;

private:
    QLineEdit* Pin_;  // child of this
};

// Shows the prompt modally; the PIN typed, or empty when cancelled.
std::optional<QString> AskForAdminPin(QWidget* parent, const QString& prompt = QString());
