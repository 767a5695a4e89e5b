#include "app/ui/counter_demo.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>

#include "app/counter/board_model.h"
#include "app/counter/counter_db.h"
#include "app/ui/counter_window.h"
#include "app/ui/shop_close_window.h"

namespace {

// The booths' calls must not keep a run without a screen going for ever.
constexpr qint64 kRunLimitMs = 180000;
// The console during the calls is shown once they have run a moment.
constexpr qint64 kInCallPictureMs = 3000;

}  // namespace

TCounterDemo::TCounterDemo(TCounterWindow* window, QStringList booths, QString folder)
    : QObject(window), Window_(window), Booths_(std::move(booths)), Folder_(std::move(folder)) {
    QDir().mkpath(Folder_);
    connect(&Poll_, &QTimer::timeout, this, &TCounterDemo::Step);
    Poll_.start(200);
    RunClock_.start();
}

int TCounterDemo::BoothsWhere(bool inCall) const {
    int count = 0;
    for (const TBoothRow& row : Window_->Board().Rows())
        if (Booths_.contains(row.Name) && (inCall ? row.InCall() : (!row.InCall() && row.UnpaidCalls > 0))) ++count;
    return count;
}

void TCounterDemo::Step() {
    if (RunClock_.elapsed() > kRunLimitMs) {
        std::fprintf(stderr, "softphone: the booths' calls did not complete\n");
        Picture(Window_, "counter-timeout.png");
        Finish(1);
        return;
    }
    if (!Window_->Connected()) return;
    switch (Stage_) {
        case TStage::Open:
            // The first booth's customer may spend at most 500.00.
            for (int i = 0; i < Booths_.size(); ++i)
                Window_->OpenBooth(Booths_[i], i == 0 ? std::optional<TMoney>(MoneyFromUnits(500)) : std::nullopt);
            Picture(Window_, "counter-opened.png");
            Stage_ = TStage::WaitCalls;
            StageClock_.invalidate();
            return;
        case TStage::WaitCalls:
            if (BoothsWhere(true) < Booths_.size()) return;
            if (!StageClock_.isValid()) StageClock_.start();
            if (StageClock_.elapsed() < kInCallPictureMs) return;
            Picture(Window_, "counter-during-calls.png");
            Stage_ = TStage::WaitEnds;
            return;
        case TStage::WaitEnds:
            if (BoothsWhere(false) < Booths_.size()) return;
            Picture(Window_, "counter-to-charge.png");
            for (const QString& booth : Booths_) Window_->CheckoutBooth(booth);
            Picture(Window_, "counter-after-checkout.png");
            Stage_ = TStage::Close;
            return;
        case TStage::Close: {
            Stage_ = TStage::Done;
            TShopCloseWindow close(*Window_->Db(), [] { return false; }, Window_);
            close.findChild<QLineEdit*>(QStringLiteral("counted"))
                ->setText(QString::number(RoundToHundredths(close.Close().Expected) / 100.0, 'f', 2));
            close.show();
            Picture(&close, "counter-shop-close.png");
            try {
                close.ExportCsv(QDir(Folder_).filePath(QStringLiteral("shop-close.csv")));
                close.ExportPdf(QDir(Folder_).filePath(QStringLiteral("shop-close.pdf")));
            } catch (const std::exception& error) {
                std::fprintf(stderr, "softphone: %s\n", error.what());
            }
            close.close();
            Finish(0);
            return;
        }
        case TStage::Done:
            return;
    }
}

void TCounterDemo::Picture(QWidget* widget, const char* name) {
    const QString path = QDir(Folder_).filePath(QString::fromLatin1(name));
    if (widget->grab().save(path)) std::fprintf(stderr, "softphone: saved %s\n", qPrintable(path));
}

void TCounterDemo::Finish(int code) {
    Poll_.stop();
    QCoreApplication::exit(code);
}
