// The main window's side of the call guards: they follow the call flow
// (answer, rate, seconds) and the window shows what they say - notes in the
// status bar, the cost label in red, the far end's flags. Their cut and
// what they do at the call's end belong to TBoothCallEnd.
#include <QLabel>
#include <QSettings>

#include "app/booth/booth_texts.h"
#include "app/booth/sip_booth_line.h"
#include "app/portal/balance_watch.h"
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
