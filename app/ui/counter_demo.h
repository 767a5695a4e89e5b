// The shop's demonstration at the counter (`softphone --counter --demo DIR`):
// opens two booths for customers (one with a limit), waits until both are
// in a call and takes a picture of the console, waits for both calls to end
// and charges each booth at checkout, then shows the shop's close with the
// cash counted as expected, saves its CSV and PDF, takes the last pictures
// and ends the program. The booths dial by themselves (their own
// demonstration runs).
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QWidget;
class TCounterWindow;

class TCounterDemo : public QObject {
    Q_OBJECT

public:
    TCounterDemo(TCounterWindow* window, QStringList booths, QString folder);

private:
    enum class TStage { Open, WaitCalls, WaitEnds, Close, Done };
    void Step();
    void Picture(QWidget* widget, const char* name);
    void Finish(int code);
    int BoothsWhere(bool inCall) const;

    TCounterWindow* Window_;
    QStringList Booths_;
    QString Folder_;
    TStage Stage_ = TStage::Open;
    QTimer Poll_;
    QElapsedTimer RunClock_;
    QElapsedTimer StageClock_;
};
