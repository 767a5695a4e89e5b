// The main window's call handling: placing a call, the per-second timer that
// times and prices it, hanging up and the end of a call.
#include <exception>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/booth_texts.h"
#include "app/call_rules.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/portal.h"

QString TMainWindow::BoothState() const { return BoothState_->text(); }

bool TMainWindow::ReadyToCall() const { return CallButton_->isEnabled() && Number_->isEnabled(); }

void TMainWindow::Dial(const QString& number) {
    Number_->setText(number);
    if (CallButton_->isEnabled()) CallButton_->click();
}

void TMainWindow::HangUpCall() { HangUpButton_->click(); }

void TMainWindow::CallClicked() {
    try {
        PlaceCall();
    } catch (const std::exception& error) {
        // The labels and controls stay as far as the steps got.
        ShowError(this, QString::fromUtf8(error.what()));
        return;
    }
    ShowDestinationAndRate();
}

void TMainWindow::PlaceCall() {
    const QString typed = Number_->text();
    Number_->setEnabled(false);
    Phone_->setText(typed);
    BoothState_->setText(QString::fromUtf8(kRingingText));
    SetConfigurationEnabled(false);
    DialString_ = DialString(typed);
    const int capture = DeviceIndex(DeviceNames_(true), Microphones_->currentText());
    const int playback = DeviceIndex(DeviceNames_(false), Speakers_->currentText());
    CallRate_.reset();
    CallAnswered_ = false;
    ShowGuardText(QString(), false);
    CurrentCall_ = Client_->MakeCall(SipAccount_, DialString_.toStdString(), capture, playback);
    CallOpen_ = true;
    CallButton_->setEnabled(false);
    Duration_->setText(QStringLiteral("00:00:00"));
    TickCount_ = 0;
    TotalCost_->setText(FormatCurrency(TMoney{}, locale()));
    Destination_->setText(QStringLiteral("---"));
    RatePerMinute_->setText(FormatCurrency(TMoney{}, locale()));
}

// The portal may be slow or down: the call goes on regardless, priced from
// whatever rate is shown at each tick.
void TMainWindow::ShowDestinationAndRate() {
    QCoreApplication::processEvents();
    try {
        const TRateReply reply = Portal_->DestinationAndRate(Account_.Username, Account_.Password, DialString_);
        Destination_->setText(reply.Destination);
        RatePerMinute_->setText(FormatCurrency(reply.Rate, locale()));
        CallRate_ = reply.Rate;
        // A rate that comes after the answer still arms the credit guard.
        if (CallAnswered_) Guards_->RateKnown(CallRate_);
    } catch (const std::exception&) {
    }
}

// A call that has ended is not hung up again: the engine would send a stray
// CANCEL for it.
void TMainWindow::HangUpClicked() {
    if (!CurrentCall_ || !CallOpen_) return;
    if (!IsCallToHangUp(CurrentCall_->GetIncoming(), CurrentCall_->GetState())) return;
    Guarded([this] { Client_->HangUp(CurrentCall_); });
}

// Only the window's own call counts: an incoming call is never answered, and
// its events must not stop the timing of the customer's call.
void TMainWindow::InviteOk(TSipClient*, ISipCallPtr call) {
    if (!call || call != CurrentCall_) return;
    CallTimer_->start();
    BoothState_->setText(QString::fromUtf8(kInCallText));
    CallAnswered_ = true;
    Guards_->CallAnswered(call, LastBalance_, CallRate_);
}

void TMainWindow::Bye(TSipClient*, ISipCallPtr call) {
    if (!call || call != CurrentCall_) return;
    CallOpen_ = false;
    CallTimer_->stop();
    Guards_->CallEnded();
    ShowAnswerFlags();
    BoothState_->setText(QString::fromUtf8(kFreeText));
    SetConfigurationEnabled(true);
    // The component holds the call's lock while its handlers run: the
    // portal request waits until this handler has returned.
    QTimer::singleShot(0, this, &TMainWindow::RefreshAfterCall);
}

void TMainWindow::RefreshAfterCall() {
    try {
        const TBalanceReply reply = Portal_->BalanceAndRegister(Account_.Username, Account_.Password);
        Balance_->setText(FormatCurrency(reply.Balance, locale()));
        LastBalance_ = reply.Balance;
        Guards_->BalanceRefreshed(reply.Balance);
        ShowRegister(reply.Calls);
    } catch (const std::exception&) {
        // The old balance and register stay until the next call.
    }
    Number_->setEnabled(true);
    CallButton_->setEnabled(true);
}

void TMainWindow::TimerTick() {
    Duration_->setText(NextDuration(Duration_->text()));
    ++TickCount_;
    try {
        TotalCost_->setText(FormatCurrency(RunningCost(RatePerMinute_->text(), TickCount_), locale()));
    } catch (const std::exception&) {
        // A rate too large to price leaves the last cost shown.
    }
    Guards_->Tick(TickCount_);
}

void TMainWindow::SetConfigurationEnabled(bool enabled) {
    AudioDialogAction_->setEnabled(enabled);
    AccountDialogAction_->setEnabled(enabled);
}
