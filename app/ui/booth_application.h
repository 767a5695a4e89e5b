// The booth's application object. Every user action, timer and event of the
// booth passes through notify; an error that a handler lets escape is shown
// in a box captioned with the application title instead of ending the
// program, and the window stays usable.
#pragma once

#include <QApplication>

class TBoothApplication : public QApplication {
    Q_OBJECT

public:
    TBoothApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
