// A label that reacts to a click like a link: the logo and the account
// number of the main window.
#pragma once

#include <QLabel>

class TClickableLabel : public QLabel {
    Q_OBJECT

public:
    explicit TClickableLabel(QWidget* parent = nullptr);

signals:
    void Clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
