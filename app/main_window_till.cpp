// The main window's till: the local journal every booth call is written to,
// "A cobrar" (the customer's price), "Cobrar", and the menu "&Caja" with the
// selling rates, the reprint and the day's close.
#include <cstdio>
#include <exception>

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

#include "app/booth_call_flow.h"
#include "app/call_journal.h"
#include "app/call_recorder.h"
#include "app/cash_close_window.h"
#include "app/journal_db.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/rates_dialog.h"
#include "app/selling_rate_store.h"
#include "sipclient/sipclient.h"

namespace {

constexpr char kNoJournalText[] = "Sin registro local de llamadas";

// The far end's voice as the media side measured it, for the call's record;
// nothing for a call that never carried audio.
std::optional<TCallQuality> QualityForJournal(const ISipCallPtr& call) {
    if (!call) return std::nullopt;
    const media::TCallQuality measured = TSipClient::GetCallQuality(call);
    if (measured.received == 0) return std::nullopt;
    return TCallQuality{measured.mos, measured.jitterMs, measured.lossPercent};
}

}  // namespace

// A journal that cannot be opened (another booth program writes it, a
// full or read-only disk) must not keep the booth from selling calls: the
// status bar says so and the calls are priced all the same.
void TMainWindow::SetupTill() {
    WallClock_ = [] { return QDateTime::currentDateTime(); };
    TClock clock = [this] { return WallClock_(); };
    try {
        Journal_ = std::make_unique<TJournalDb>(TJournalDb::DefaultFileName());
        CallJournal_ = std::make_unique<TCallJournal>(*Journal_);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "softphone: %s\n", error.what());
        JournalWarning_ = QString::fromUtf8(kNoJournalText);
        Panels_[1]->setToolTip(QString::fromUtf8(error.what()));
        ShowNote(QString());
    }
    Recorder_ = std::make_unique<TCallRecorder>(CallJournal_.get(), clock, [this](const QString& text) {
        std::fprintf(stderr, "softphone: %s\n", qPrintable(text));
        JournalWarning_ = QString::fromUtf8(kNoJournalText);
        Panels_[1]->setToolTip(text);
        ShowNote(QString());
    });
    if (Journal_) {
        try {
            Recorder_->SetSellingRates(LoadSellingRates(*Journal_));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "softphone: %s\n", error.what());
        }
        Till_ = std::make_unique<TTill>(*CallJournal_, Settings_, clock);
    }
    for (QAction* action : {ReprintAction_, CashCloseAction_, RatesAction_}) action->setEnabled(Journal_ != nullptr);
    // The call flow's steps go to the journal as they happen.
    connect(Flow_, &TBoothCallFlow::Placed, this, [this](const QString& typed, const QString& dialString) {
        Recorder_->Placed(typed, dialString);
        ShowToCharge();
    });
    connect(Flow_, &TBoothCallFlow::RateKnown, this,
            [this](const QString& destination, TMoney rate) { Recorder_->Rated(destination, rate); });
    connect(Flow_, &TBoothCallFlow::Answered, this, [this] { Recorder_->Answered(); });
    connect(Flow_, &TBoothCallFlow::Charged, this, [this](const TCallCharge& charge) {
        Recorder_->Tick(charge.Seconds, Flow_->Rate().value_or(TMoney{}), charge.Cost.value_or(TMoney{}));
        ShowToCharge();
    });
    connect(Flow_, &TBoothCallFlow::Ended, this, [this](const TCallEnd& end) {
        Recorder_->Ended(end.Status, end.Reason, QualityForJournal(CurrentCall()));
        ShowToCharge();
        if (CashClose_ && CashClose_->isVisible()) CashClose_->Reload();
    });
}

void TMainWindow::BuildTillMenu() {
    QMenu* till = menuBar()->addMenu(QStringLiteral("&Caja"));
    auto action = [this, till](const char* text, const char* name) {
        QAction* item = till->addAction(QString::fromUtf8(text));
        item->setObjectName(QString::fromLatin1(name));
        return item;
    };
    ChargeAction_ = action("C&obrar", "chargeAction");
    ChargeAction_->setEnabled(false);
    ReprintAction_ = action("&Reimprimir recibo", "reprintAction");
    till->addSeparator();
    CashCloseAction_ = action("Cierre de &caja...", "cashCloseAction");
    RatesAction_ = action("&Tarifas de venta...", "ratesAction");
    connect(ChargeAction_, &QAction::triggered, this, &TMainWindow::ChargeLastCall);
    connect(ReprintAction_, &QAction::triggered, this, &TMainWindow::ReprintLastReceipt);
    connect(CashCloseAction_, &QAction::triggered, this, [this] { OpenCashClose(); });
    connect(RatesAction_, &QAction::triggered, this, &TMainWindow::OpenRatesDialog);
}

void TMainWindow::SetWallClock(TClock clock) { WallClock_ = std::move(clock); }

QString TMainWindow::AmountToCharge() const { return ToCharge_->text(); }

// The amount stays until the next "&Llamar"; "Cobrar" is offered once the
// call has ended with something to charge and until it is charged.
void TMainWindow::ShowToCharge() {
    ShowMoney(ToCharge_, Recorder_->Figures().CustomerPrice);
    const bool chargeable =
        Till_ && !Recorder_->IsOpen() && Recorder_->LastCallId() && Recorder_->Figures().CustomerPrice > TMoney{};
    ChargeButton_->setEnabled(chargeable);
    ChargeAction_->setEnabled(chargeable);
}

void TMainWindow::ChargeLastCall() {
    if (!Till_ || Recorder_->IsOpen() || !Recorder_->LastCallId()) return;
    if (!Till_->Checkout(this, *Recorder_->LastCallId())) return;
    ChargeButton_->setEnabled(false);
    ChargeAction_->setEnabled(false);
    if (CashClose_) CashClose_->Reload();
}

void TMainWindow::ReprintLastReceipt() {
    if (Till_ && Recorder_->LastCallId() && !Recorder_->IsOpen())
        Till_->Reprint(this, *Recorder_->LastCallId());
    else
        OpenCashClose();  // any call of the journal, from its list
}

TCashCloseWindow* TMainWindow::OpenCashClose() {
    if (!Journal_ || !KioskAllows()) return nullptr;
    if (!CashClose_) {
        CashClose_ = new TCashCloseWindow(
            *Journal_, Settings_, [this] { return WallClock_(); }, [this] { return AdminAllows(); }, this);
        CashClose_->setModal(false);
    } else {
        CashClose_->Reload();
    }
    CashClose_->show();
    CashClose_->raise();
    return CashClose_;
}

void TMainWindow::OpenRatesDialog() {
    if (!Journal_ || !AdminAllows()) return;
    TRatesDialog dialog(this);
    dialog.Fill(Recorder_->SellingRates(), Settings_.ReadShop());
    if (dialog.exec() != QDialog::Accepted) return;
    const std::optional<TSellingRates> rates = dialog.Rates(nullptr);
    if (!rates) return;
    Guarded([&] {
        SaveSellingRates(*Journal_, *rates);
        Recorder_->SetSellingRates(*rates);
        Settings_.WriteShop(dialog.Shop());
        if (!dialog.NewPin().isEmpty()) Settings_.WriteAdminPin(dialog.NewPin());
    });
}
