// The main window's till: the local journal every booth call is written to,
// "A cobrar" (the customer's price), "Cobrar", and the menu "&Caja" with the
// selling rates, the reprint and the day's close.
#include <cstdio>
#include <exception>

#include <QAction>
#include <QDockWidget>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

#include "app/booth/booth_call_flow.h"
#include "app/booth/booth_texts.h"
#include "app/shop/shop_call_follow.h"
#include "app/shop/shop_outbox.h"
#include "app/shop/shop_replicator.h"
#include "app/till/call_journal.h"
#include "app/till/call_recorder.h"
#include "app/till/journal_db.h"
#include "app/till/selling_rate_store.h"
#include "app/till/shift_journal.h"
#include "app/ui/cash_close_window.h"
#include "app/ui/main_window.h"
#include "app/ui/message_boxes.h"
#include "app/ui/rates_dialog.h"
#include "sipclient/sipclient.h"

namespace {

constexpr char kNoJournalText[] = "Sin registro local de llamadas";

}  // namespace

// A journal that cannot be opened (another booth program writes it, a
// full or read-only disk) must not keep the booth from selling calls: the
// status bar says so and the calls are priced all the same.
void TMainWindow::SetupTill() {
    WallClock_ = [] { return QDateTime::currentDateTime(); };
    TClock clock = [this] { return WallClock_(); };
    try {
        Journal_ = std::make_unique<TJournalDb>(TJournalDb::DefaultFileName());
        // Each second of a call is handed over rather than flushed here:
        // the window's thread never waits for the disk during a call.
        Journal_->StartWriterThread();
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
        Till_ = std::make_unique<TTill>(*CallJournal_, Settings_, clock,
                                        [this] { return Recorder_->SellingRates(); });
        StartShopReplication();
    }
    for (QAction* action : {ReprintAction_, CashCloseAction_, RatesAction_}) action->setEnabled(Journal_ != nullptr);
    // The call flow's steps go to the journal as they happen (its end with
    // TBoothCallEnd).
    connect(Flow_, &TBoothCallFlow::Placed, this, [this](const QString& typed, const QString& dialString) {
        // Asked before this call joins the journal: only earlier calls count.
        const bool unpaid = FillUnpaidList();
        Recorder_->Placed(typed, dialString);
        ShowToCharge();
        UnpaidWarning_->setVisible(unpaid);
    });
    connect(Flow_, &TBoothCallFlow::RateKnown, this,
            [this](const QString& destination, TMoney rate) { Recorder_->Rated(destination, rate); });
    connect(Flow_, &TBoothCallFlow::Answered, this, [this] { Recorder_->Answered(); });
    connect(Flow_, &TBoothCallFlow::Charged, this, [this](const TCallCharge& charge) {
        Recorder_->Tick(charge.Seconds, Flow_->Rate(), charge.Cost.value_or(TMoney{}));
        ShowToCharge();
    });
    // The recorder has priced the ended call at the rate (RateKnown came first).
    connect(Flow_, &TBoothCallFlow::PricedAfterEnd, this, &TMainWindow::ShowTill);
    SetupUnpaidList();
}

// With a shop database in the settings every journal change is also noted
// for the shop, and the counter's payments come back into the journal; the
// booth works the same while the shop is away.
void TMainWindow::StartShopReplication() {
    const QString database = Settings_.ReadShopDatabase();
    if (database.isEmpty()) return;
    try {
        AttachShopOutbox(*Journal_);
        ShopReplicator_ = std::make_unique<TShopReplicator>(
            TShopReplicatorConfig{Journal_->FileName(), database, Settings_.ReadShop().Booth});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "softphone: %s\n", error.what());
        return;
    }
    FollowCallForShop(*Flow_, *ShopReplicator_);
    connect(ShopReplicator_.get(), &TShopReplicator::ConnectionChanged, this,
            [](bool connected, const QString& error) {
                if (!connected) std::fprintf(stderr, "softphone: tienda sin conexión: %s\n", qPrintable(error));
            });
    connect(ShopReplicator_.get(), &TShopReplicator::RemoteChangesApplied, this, [this] {
        ShowToCharge();
        UnpaidWarning_->setVisible(FillUnpaidList());
        if (CashClose_ && CashClose_->isVisible()) CashClose_->Reload();
    });
}

// The operator's own list: charging needs no PIN, only corrections do (in
// the close window). The dock sits beside the booth's controls.
void TMainWindow::SetupUnpaidList() {
    auto* dock = new QDockWidget(QStringLiteral("Sin cobrar"), this);
    dock->setObjectName(QStringLiteral("unpaidDock"));
    dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    auto* body = new QWidget(dock);
    auto* layout = new QVBoxLayout(body);
    UnpaidWarning_ = new QLabel(QStringLiteral("Hay llamadas sin cobrar"), body);
    UnpaidWarning_->setObjectName(QStringLiteral("unpaidWarning"));
    UnpaidWarning_->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
    UnpaidWarning_->hide();
    Unpaid_ = new QListWidget(body);
    Unpaid_->setObjectName(QStringLiteral("unpaidList"));
    ChargeUnpaidButton_ = new QPushButton(QStringLiteral("Cobrar la &seleccionada"), body);
    ChargeUnpaidButton_->setObjectName(QStringLiteral("chargeUnpaidButton"));
    ChargeUnpaidButton_->setEnabled(false);
    layout->addWidget(UnpaidWarning_);
    layout->addWidget(Unpaid_);
    layout->addWidget(ChargeUnpaidButton_);
    dock->setWidget(body);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->setVisible(Journal_ != nullptr);
    auto chargeSelected = [this] {
        const QListWidgetItem* item = Unpaid_->currentItem();
        if (item) ChargeUnpaid(item->data(Qt::UserRole).toLongLong());
    };
    connect(ChargeUnpaidButton_, &QPushButton::clicked, this, chargeSelected);
    connect(Unpaid_, &QListWidget::itemActivated, this, chargeSelected);
    connect(Unpaid_, &QListWidget::currentRowChanged, this,
            [this](int row) { ChargeUnpaidButton_->setEnabled(row >= 0); });
    FillUnpaidList();
}

// The shift runs from the open shift's start, else from the last close;
// a journal that never had a shift lists everything unpaid.
bool TMainWindow::FillUnpaidList() {
    if (!Unpaid_) return false;
    Unpaid_->clear();
    if (!CallJournal_) return false;
    try {
        QDateTime from = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
        TShiftJournal shifts(*Journal_);
        if (const std::optional<TShift> current = shifts.Current())
            from = current->Opened;
        else if (const std::vector<TShift> recent = shifts.Recent(1); !recent.empty())
            from = recent.front().Closed;
        const QLocale money = MoneyLocale(locale());
        for (const TJournalCall& call : CallJournal_->Unpaid(from)) {
            QString what = call.NeedsRate() ? QString::fromUtf8(kRateUnavailableText)
                                            : FormatCurrency(call.Figures.CustomerPrice, money);
            if (call.State == TJournalState::Interrupted) what += QStringLiteral(" (interrumpida)");
            auto* item = new QListWidgetItem(QStringLiteral("%1  %2  %3")
                                                 .arg(call.Started.toLocalTime().toString(QStringLiteral("HH:mm")),
                                                      call.Number, what),
                                             Unpaid_);
            item->setData(Qt::UserRole, qint64(call.Id));
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "softphone: %s\n", error.what());
    }
    ChargeUnpaidButton_->setEnabled(Unpaid_->currentRow() >= 0);
    if (Unpaid_->count() == 0) UnpaidWarning_->hide();
    return Unpaid_->count() > 0;
}

void TMainWindow::ChargeUnpaid(std::int64_t callId) {
    if (!Till_) return;
    if (Recorder_->IsOpen() && Recorder_->LastCallId() == callId) return;
    if (!Till_->Checkout(this, callId)) return;
    ShowToCharge();
    FillUnpaidList();
    if (CashClose_) CashClose_->Reload();
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
// call has ended with something to charge and until it is charged. A call
// talked without a rate has something to charge: its rate is asked at
// checkout.
void TMainWindow::ShowToCharge() {
    std::optional<TJournalCall> last;
    if (CallJournal_ && Recorder_->LastCallId() && !Recorder_->IsOpen()) {
        try {
            last = CallJournal_->Call(*Recorder_->LastCallId());
        } catch (const std::exception&) {
        }
    }
    const bool unpriced = !Flow_->Rate() && Recorder_->Figures().Seconds > 0 && (!last || last->NeedsRate());
    if (last && last->RateOrigin != TRateOrigin::None)
        ShowMoney(ToCharge_, last->Figures.CustomerPrice);
    else if (unpriced)
        ToCharge_->setText(QString::fromUtf8(kRateUnavailableText));
    else
        ShowMoney(ToCharge_, Recorder_->Figures().CustomerPrice);
    const bool chargeable = Till_ && !Recorder_->IsOpen() && last && last->IsUnpaid();
    ChargeButton_->setEnabled(chargeable);
    ChargeAction_->setEnabled(chargeable);
}

void TMainWindow::ChargeLastCall() {
    if (!Till_ || Recorder_->IsOpen() || !Recorder_->LastCallId()) return;
    ChargeUnpaid(*Recorder_->LastCallId());
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
