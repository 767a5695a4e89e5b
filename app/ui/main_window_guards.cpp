// The main window's side of the call guards: they follow the call flow
// (answer, rate, seconds) and the window shows what they say - notes in the
// status bar, the cost label in red, the far end's flags. Their cut and
// what they do at the call's end belong to TBoothCallEnd.
#include <QLabel>
#include <QSettings>
#include <QStringList>

#include "app/booth/booth_texts.h"
#include "app/booth/sip_booth_line.h"
#include "app/counter/booth_session_watch.h"
#include "app/portal/balance_watch.h"
#include "app/shop/shop_replicator.h"
#include "app/till/call_journal.h"
#include "app/till/call_recorder.h"
#include "app/ui/main_window.h"

void TMainWindow::SetupCallGuards() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(kSettingsOrganization));
    Guards_ = new TCallGuards(
        ReadGuardSettings(settings),
        [this](const ISipCallPtr& call, const std::string& file) { Client_->PlayWavFileToSpeaker(call, file); }, this);
    connect(Flow_, &TBoothCallFlow::Placed, this, [this] {
        GuardNotes_.CallPlaced();
        Panels_[1]->setStyleSheet(QString());
    });
    connect(Flow_, &TBoothCallFlow::Answered, this, [this] { Guards_->CallAnswered(Line_->CurrentCall(), Flow_->Rate()); });
    connect(Flow_, &TBoothCallFlow::RateKnown, this, [this](const QString&, TMoney rate) { Guards_->RateKnown(rate); });
    connect(Flow_, &TBoothCallFlow::Charged, this, [this](const TCallCharge& charge) { Guards_->Tick(charge.Seconds); });
    connect(Guards_, &TCallGuards::StatusText, this, [this](const QString& text) { ShowGuardText(text, false); });
    connect(Guards_, &TCallGuards::AnswerFlagged, this, [this](const QString& text) {
        GuardNotes_.Flagged(Guards_->AnswerFlags());
        ShowGuardText(text, true);
        // Into the call's record too, so the close shows which calls the
        // operator may have refused to charge.
        Recorder_->AnswerFlagged(Guards_->AnswerFlags());
    });
    connect(Guards_, &TCallGuards::CostWarningChanged, this, [this](bool warning) {
        TotalCost_->setStyleSheet(warning ? QStringLiteral("color: red") : QString());
    });
    // The booth cut the call: the journal says so, not only the line's 200.
    connect(Guards_, &TCallGuards::HangUpRequested, this, [this] {
        Guarded([this] { End_->Cut(QString::fromUtf8(kCreditCutReason), QString::fromUtf8(kCreditHangUpText)); });
    });
}

// The guards' notes come first (TGuardNotes ranks them). Other notes (no
// rate, the low balance after the refresh) show only when none of these is
// up; an empty one takes the guard's last plain note away.
void TMainWindow::ShowGuardText(const QString& text, bool alarm) {
    if (alarm) {
        ShowGuardNotes();
        return;
    }
    if (text == QString::fromUtf8(kOneMinuteLeftText) || text == QString::fromUtf8(kTenSecondsLeftText)) {
        GuardNotes_.Warned(text);
        ShowGuardNotes();
        return;
    }
    if (text == QString::fromUtf8(kCreditHangUpText)) {
        GuardNotes_.Acted(text);
        ShowGuardNotes();
        return;
    }
    if (GuardNotes_.Any()) return;
    if (text.isEmpty() && Panels_[1]->text() != QString::fromUtf8(kNoRateText)) return;
    ShowNote(text);
}

void TMainWindow::ShowGuardNotes() {
    if (GuardNotes_.Any()) ShowStatusNote(GuardNotes_.Text(), GuardNotes_.Alarm());
}

// During a call the balance is read again now and then, so the credit guard
// hears of a top-up or of what another booth on the account spent.
void TMainWindow::SetupBalanceWatch() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(kSettingsOrganization));
    const std::chrono::seconds period{ReadGuardSettings(settings).BalanceRefreshSeconds};
    BalanceWatch_ = new TBalanceWatch(
        [this](QObject* context, TPortalHandler<TBalanceReply> done) {
            Portal_->BalanceAndRegister(Account_.Username, Account_.Password, context, std::move(done));
        },
        period, this);
    connect(Flow_, &TBoothCallFlow::Answered, BalanceWatch_, &TBalanceWatch::Start);
    connect(BalanceWatch_, &TBalanceWatch::BalanceRead, this, [this](TMoney balance) {
        ShowMoney(Balance_, balance);
        Guards_->BalanceRefreshed(balance);
    });
}

// Only a booth that names a shop database obeys the counter's sessions,
// as its journal's copy holds them; without a journal it has none and stays
// closed (it never heard from the counter).
void TMainWindow::SetupSessionGuard() {
    ShopEnabled_ = !Settings_.ReadShopDatabase().isEmpty();
    if (!ShopEnabled_) return;
    if (Journal_) {
        SessionWatch_ = new TBoothSessionWatch(*Journal_, this);
        connect(SessionWatch_, &TBoothSessionWatch::SessionChanged, this, [this] {
            ShowSessionState();
            ArmSessionLimit();
        });
        if (ShopReplicator_)
            connect(ShopReplicator_.get(), &TShopReplicator::RemoteChangesApplied, SessionWatch_,
                    &TBoothSessionWatch::Read);
    }
    connect(Flow_, &TBoothCallFlow::Answered, this, &TMainWindow::ArmSessionLimit);
    connect(Flow_, &TBoothCallFlow::RateKnown, this, &TMainWindow::ArmSessionLimit);
    connect(Flow_, &TBoothCallFlow::Charged, this, [this](const TCallCharge& charge) { SessionTick(charge.Seconds); });
    connect(Flow_, &TBoothCallFlow::Ended, this, [this] { SessionLimit_.reset(); });
    ShowSessionState();
}

QString TMainWindow::SessionRefusal() const {
    return DialRefusal(ShopEnabled_, SessionWatch_ ? SessionWatch_->Session() : TBoothSession{});
}

// A closed booth says so where the customer looks: the booth's state and the
// status bar, in red. A call running when the counter closes the session
// goes on; the booth closes after it.
void TMainWindow::ShowSessionState() {
    if (!ShopEnabled_) return;
    if (!Flow_->IsOpen()) {
        const QString refusal = SessionRefusal();
        const QString closedWord = QString::fromUtf8("Cerrada");
        if (!refusal.isEmpty()) {
            BoothState_->setText(closedWord);
            ShowNote(QString());
        } else if (BoothState_->text() == closedWord) {
            BoothState_->setText(QString::fromUtf8(kFreeText));
            ShowNote(QString());
        }
    }
    UpdateCallButton();
}

// What the session may still spend is its limit less the customer prices of
// its earlier calls, as this booth's journal holds them; the running call is
// then priced second by second under the shop's rules. Without a rate the
// call cannot be priced, and the limit waits for it as the credit guard does.
void TMainWindow::ArmSessionLimit() {
    SessionLimit_.reset();
    if (!SessionWatch_) return;
    const TBoothSession session = SessionWatch_->Session();
    if (!session.Limit || Flow_->Phase() != TBoothCallPhase::InCall || !Flow_->Rate() || !CallJournal_) return;
    TMoney spent;
    try {
        const std::optional<std::int64_t> current = Recorder_->LastCallId();
        for (const TJournalCall& call : CallJournal_->Calls(session.Opened, QDateTime::currentDateTimeUtc().addYears(1)))
            if (!current || call.Id != *current) spent.TenThousandths += call.Figures.CustomerPrice.TenThousandths;
    } catch (const std::exception&) {
        return;
    }
    const TMoney remaining = SessionRemaining(session, spent).value_or(TMoney{});
    SessionLimit_ = std::make_unique<TSessionLimit>(
        remaining, [rates = Recorder_->SellingRates(), number = RatedNumber(Flow_->DialString()),
                    rate = *Flow_->Rate()](int seconds) { return PricedFigures(rates, number, rate, seconds).CustomerPrice; });
    SessionTick(Flow_->Charge().Seconds);
}

// The cut is the credit guard's: the reason in the journal, the note in red,
// the hang-up.
void TMainWindow::SessionTick(int seconds) {
    if (!SessionLimit_) return;
    const TCreditEvent event = SessionLimit_->Tick(seconds);
    if (event == TCreditEvent::OneMinuteLeft) {
        GuardNotes_.Warned(QString::fromUtf8(kSessionMinuteLeftText));
        ShowGuardNotes();
    } else if (event == TCreditEvent::HangUp) {
        Guarded([this] { End_->Cut(QString::fromUtf8(kSessionLimitCutReason), QString::fromUtf8(kSessionLimitCutText)); });
    }
}
