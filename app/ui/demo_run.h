// The demonstration run: once the booth is on line it dials one number, lets
// the call run a few seconds, hangs up and waits for the refreshed balance,
// taking pictures of the window on the way when asked to, then of the
// till's windows (checkout, selling rates, the day's close) with the
// receipt and the close as PDF files. The demonstration prices its call with
// selling rates of its own, kept in memory only. A newcomer sees
// the whole booth cycle without typing; with pictures the program ends
// after the call (run under a virtual display).
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QWidget;
class TMainWindow;

class TDemoRun : public QObject {
    Q_OBJECT

public:
    // `screenshotDir` empty: no pictures and the program stays open.
    TDemoRun(TMainWindow* window, const QString& number, const QString& screenshotDir);

private:
    enum class TStage { WaitOnline, Ringing, Talking, Ending, Till, Done };

    void Step();
    void Picture(const char* name);
    // The till after the call: checkout, receipt, selling rates, the close.
    void TillPictures();
    void SaveWidget(QWidget* widget, const char* name);
    void Finish(int exitCode);

    TMainWindow* Window_;
    QString Number_;
    QString ScreenshotDir_;
    TStage Stage_ = TStage::WaitOnline;
    QTimer Poll_;
    QElapsedTimer StageClock_;
    QElapsedTimer RunClock_;
};
