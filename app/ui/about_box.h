// "Acerca de...": the logo, the provider's support and contact addresses,
// the program version and a short legal notice, in a borderless box with a
// drawn frame.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // The version as the main window's status bar shows it.
    void SetVersion(const QString& versionText);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* Version_;  // child of this
};
