#include "app/ui/demo_run.h"

#include <cstdio>
#include <exception>

#include <QCoreApplication>
#include <QDir>

#include "app/booth/booth_texts.h"
#include "app/till/booth_documents.h"
#include "app/till/call_journal.h"
#include "app/till/call_recorder.h"
#include "app/till/journal_db.h"
#include "app/ui/cash_close_window.h"
#include "app/ui/checkout_dialog.h"
#include "app/ui/document_printer.h"
#include "app/ui/main_window.h"
#include "app/ui/rates_dialog.h"

namespace {

constexpr qint64 kTalkMs = 6000;
// A provider that never answers must not keep a run without a screen going.
constexpr qint64 kRunLimitMs = 90000;

// A shop that sells at 25% over the provider, Buenos Aires at 10%, in steps
// of five cents with a minimum of half a unit, by the minute.
TSellingRates DemoSellingRates() {
    TSellingRates rates;
    rates.Factor = 12500;
    rates.Minimum = MoneyFromHundredths(50);
    rates.RoundingStep = MoneyFromHundredths(5);
    rates.IncrementSeconds = 60;
    rates.Rules = {{QStringLiteral("5411"), TPrefixRule::TKind::Factor, TMoney{}, 11000}};
    return rates;
}

}  // namespace

TDemoRun::TDemoRun(TMainWindow* window, const QString& number, const QString& screenshotDir)
    : QObject(window), Window_(window), Number_(number), ScreenshotDir_(screenshotDir) {
    if (!ScreenshotDir_.isEmpty()) QDir().mkpath(ScreenshotDir_);
    Window_->Recorder().SetSellingRates(DemoSellingRates());
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
            Stage_ = TStage::Till;
            return;
        case TStage::Till:
            Stage_ = TStage::Done;
            if (ScreenshotDir_.isEmpty()) return;
            TillPictures();
            Finish(0);
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

void TDemoRun::SaveWidget(QWidget* widget, const char* name) {
    const QString path = QDir(ScreenshotDir_).filePath(QString::fromLatin1(name));
    if (widget->grab().save(path)) std::fprintf(stderr, "softphone: saved %s\n", qPrintable(path));
}

// The checkout is shown, not driven: the payment goes to the journal as the
// dialog's "Cobrar" would write it.
void TDemoRun::TillPictures() {
    TJournalDb* db = Window_->Journal();
    const std::optional<std::int64_t> id = Window_->Recorder().LastCallId();
    if (!db || !id) return;
    TCallJournal journal(*db);
    std::optional<TJournalCall> call = journal.Call(*id);
    if (!call) return;
    const TBoothSettings settings;
    const TShopSettings shop = settings.ReadShop();
    const QDir folder(ScreenshotDir_);
    try {
        TCheckoutDialog checkout(call->Figures.CustomerPrice, call->Number, MoneyLocale(Window_->locale()), Window_);
        checkout.show();
        SaveWidget(&checkout, "till-checkout.png");
        const TMoney received = checkout.Received().value_or(call->Figures.CustomerPrice);
        checkout.close();
        if (!call->IsPaid()) journal.Paid(*id, QDateTime::currentDateTime(), received);
        call = journal.Call(*id);
        WritePdf(ReceiptHtml(*call, shop, MoneyLocale(Window_->locale()), false),
                 folder.filePath(QStringLiteral("receipt.pdf")), ReceiptPageSize());
        TRatesDialog rates(Window_);
        rates.Fill(Window_->Recorder().SellingRates(), shop);
        rates.show();
        SaveWidget(&rates, "till-rates.png");
        rates.close();
        if (TCashCloseWindow* close = Window_->OpenCashClose()) {
            SaveWidget(close, "till-cash-close.png");
            close->ExportPdf(folder.filePath(QStringLiteral("close.pdf")));
            close->ExportCsv(folder.filePath(QStringLiteral("close.csv")));
            close->hide();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "softphone: %s\n", error.what());
    }
}

void TDemoRun::Finish(int exitCode) {
    Poll_.stop();
    Stage_ = TStage::Done;
    QCoreApplication::exit(exitCode);
}
