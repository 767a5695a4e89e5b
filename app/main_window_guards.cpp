// The main window's side of the call guards: they follow the call flow
// (answer, rate, seconds, end) and the window shows what they say - notes
// in the status bar, the cost label in red, the far end's flags - and hangs
// up when they ask.
#include <QLabel>
#include <QSettings>

#include "app/balance_watch.h"
#include "app/booth_texts.h"
#include "app/call_recorder.h"
#include "app/main_window.h"
#include "app/sip_booth_line.h"

namespace {

const QString kAlarmStyle = QStringLiteral("color: red; font-weight: bold");

}  // namespace

void TMainWindow::SetupCallGuards() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(kSettingsOrganization));
    Guards_ = new TCallGuards(
        ReadGuardSettings(settings),
        [this](const ISipCallPtr& call, const std::string& file) { Client_->PlayWavFileToSpeaker(call, file); }, this);
    connect(Flow_, &TBoothCallFlow::Placed, this, [this] { Panels_[1]->setStyleSheet(QString()); });
    connect(Flow_, &TBoothCallFlow::Answered, this, [this] { Guards_->CallAnswered(Line_->CurrentCall(), Flow_->Rate()); });
    connect(Flow_, &TBoothCallFlow::RateKnown, this, [this](const QString&, TMoney rate) { Guards_->RateKnown(rate); });
    connect(Flow_, &TBoothCallFlow::Charged, this, [this](const TCallCharge& charge) { Guards_->Tick(charge.Seconds); });
    connect(Flow_, &TBoothCallFlow::Ended, this, [this] {
        Guards_->CallEnded();
        ShowAnswerFlags();
    });
    connect(Guards_, &TCallGuards::StatusText, this, [this](const QString& text) { ShowGuardText(text, false); });
    connect(Guards_, &TCallGuards::AnswerFlagged, this, [this](const QString& text) {
        ShowGuardText(text, true);
        // Into the call's record too, so the close shows which calls the
        // operator may have refused to charge.
        Recorder_->AnswerFlagged(Guards_->AnswerFlags());
    });
    connect(Guards_, &TCallGuards::CostWarningChanged, this, [this](bool warning) {
        TotalCost_->setStyleSheet(warning ? QStringLiteral("color: red") : QString());
    });
    connect(Guards_, &TCallGuards::HangUpRequested, this, &TMainWindow::HangUpClicked);
}

// A far-end flag is shown in red and stays until the next call is placed:
// the guards' later notes (the low balance after the refresh) do not cover
// it, so the operator still sees it when the customer comes to pay.
void TMainWindow::ShowGuardText(const QString& text, bool alarm) {
    QLabel* panel = Panels_[1];
    if (!alarm && panel->styleSheet() == kAlarmStyle) return;
    ShowNote(text);
    if (alarm) panel->setStyleSheet(kAlarmStyle);
}

void TMainWindow::ShowAnswerFlags() {
    const QStringList flags = Guards_->AnswerFlags();
    if (!flags.isEmpty()) ShowGuardText(flags.join(QStringLiteral(", ")), true);
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
    connect(Flow_, &TBoothCallFlow::Ended, BalanceWatch_, &TBalanceWatch::Stop);
    connect(BalanceWatch_, &TBalanceWatch::BalanceRead, this, [this](TMoney balance) {
        ShowMoney(Balance_, balance);
        Guards_->BalanceRefreshed(balance);
    });
}
