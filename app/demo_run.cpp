#include "app/demo_run.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDir>

#include "app/booth_texts.h"
#include "app/main_window.h"

namespace {

constexpr qint64 kTalkMs = 6000;
// A provider that never answers must not keep a run without a screen going.
constexpr qint64 kRunLimitMs = 90000;

}  // namespace

TDemoRun::TDemoRun(TMainWindow* window, const QString& number, const QString& screenshotDir)
    : QObject(window), Window_(window), Number_(number), ScreenshotDir_(screenshotDir) {
    if (!ScreenshotDir_.isEmpty()) QDir().mkpath(ScreenshotDir_);
    connect(&Poll_, &QTimer::timeout, this, &TDemoRun::Step);
    Poll_.start(200);
    RunClock_.start();
}

void TDemoRun::Step() {
    if (!ScreenshotDir_.isEmpty() && RunClock_.elapsed() > kRunLimitMs) {
        std::fprintf(stderr, "softphone: the demonstration call did not complete\n");
        Finish(1);
        return;
    }
    const QString state = Window_->BoothState();
    switch (Stage_) {
        case TStage::WaitOnline:
            if (!Window_->ReadyToCall()) return;
            Picture("booth-online.png");
            Window_->Dial(Number_);
            Stage_ = TStage::Ringing;
            return;
        case TStage::Ringing:
            if (state == QString::fromUtf8(kInCallText)) {
                Stage_ = TStage::Talking;
                StageClock_.start();
            } else if (Window_->ReadyToCall()) {
                Stage_ = TStage::Ending;  // refused before answer
            }
            return;
        case TStage::Talking:
            if (StageClock_.elapsed() < kTalkMs) return;
            Picture("booth-in-call.png");
            Window_->HangUpCall();
            Stage_ = TStage::Ending;
            return;
        case TStage::Ending:
            if (!Window_->ReadyToCall()) return;
            Picture("booth-after-call.png");
            Stage_ = TStage::Done;
            if (!ScreenshotDir_.isEmpty()) Finish(0);
            return;
        case TStage::Done:
            Poll_.stop();
            return;
    }
}

void TDemoRun::Picture(const char* name) {
    if (ScreenshotDir_.isEmpty()) return;
    const QString path = QDir(ScreenshotDir_).filePath(QString::fromLatin1(name));
    if (Window_->grab().save(path)) std::fprintf(stderr, "softphone: saved %s\n", qPrintable(path));
}

void TDemoRun::Finish(int exitCode) {
    Poll_.stop();
    Stage_ = TStage::Done;
    QCoreApplication::exit(exitCode);
}
