// The main window's side of a booth call: the number field, "&Llamar" and
// "&Colgar" forwarded to the call flow, and the flow's signals shown in the
// group "Estado de la Cabina" and the status bar (its end in
// main_window_end.cpp).
#include <exception>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/booth/booth_texts.h"
#include "app/booth/call_clock.h"
#include "app/booth/call_rules.h"
#include "app/booth/sip_booth_line.h"
#include "app/portal/portal.h"
#include "app/ui/main_window.h"
#include "app/ui/message_boxes.h"

ISipCallPtr TMainWindow::CurrentCall() const { return Line_->CurrentCall(); }

QString TMainWindow::BoothState() const { return BoothState_->text(); }

// Whatever the number field holds: "&Llamar" itself also waits for a number.
bool TMainWindow::ReadyToCall() const {
    return Online_ && !Flow_->IsOpen() && !Refreshing_ && !EditValidating_ && Number_->isEnabled() &&
           SessionRefusal().isEmpty();
}

void TMainWindow::Dial(const QString& number) {
    Number_->setText(number);
    if (CallButton_->isEnabled()) CallButton_->click();
}

void TMainWindow::HangUpCall() { HangUpButton_->click(); }

void TMainWindow::SetupCallFlow() {
    connect(Line_, &TSipBoothLine::Ringing, Flow_, &TBoothCallFlow::LineRinging);
    connect(Line_, &TSipBoothLine::Answered, Flow_, &TBoothCallFlow::LineAnswered);
    connect(Line_, &TSipBoothLine::Ended, Flow_, &TBoothCallFlow::LineEnded);
    connect(Line_, &TSipBoothLine::TransferRefused, this,
            [this] { ShowNote(QString::fromUtf8(kTransferRefusedText)); });
    connect(Flow_, &TBoothCallFlow::Placed, this, &TMainWindow::ShowPlaced);
    connect(Flow_, &TBoothCallFlow::RateKnown, this, &TMainWindow::ShowRate);
    connect(Flow_, &TBoothCallFlow::RateMissing, this, &TMainWindow::ShowRateMissing);
    connect(Flow_, &TBoothCallFlow::Answered, this,
            [this] { BoothState_->setText(QString::fromUtf8(kInCallText)); });
    connect(Flow_, &TBoothCallFlow::Charged, this, &TMainWindow::ShowCharge);
    connect(Number_, &QLineEdit::textEdited, this, &TMainWindow::NumberEdited);
    connect(Number_, &QLineEdit::textChanged, this, &TMainWindow::UpdateCallButton);
}

// What people type around a number (blanks, dashes, dots, brackets, a "+")
// never reaches the line; typed and pasted text alike is cleaned here.
void TMainWindow::NumberEdited(const QString& text) {
    const QString kept = FilterDialInput(text);
    if (kept == text) return;
    const int cursor = Number_->cursorPosition();
    const int removedBefore = static_cast<int>(text.left(cursor).size() - FilterDialInput(text.left(cursor)).size());
    Number_->setText(kept);
    Number_->setCursorPosition(std::max(0, cursor - removedBefore));
}

void TMainWindow::CallClicked() {
    // The devices are looked up by name at each call, so a card plugged in
    // or out since the list was filled is found by its present number.
    Line_->SetDevices(DeviceIndex(DeviceNames_(true), Microphones_->currentText()),
                      DeviceIndex(DeviceNames_(false), Speakers_->currentText()));
    try {
        Flow_->Place(Number_->text());
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
}

void TMainWindow::HangUpClicked() {
    Guarded([this] { Flow_->HangUp(); });
}

void TMainWindow::ShowPlaced(const QString& typed) {
    Number_->setEnabled(false);
    Phone_->setText(typed);
    BoothState_->setText(QString::fromUtf8(kRingingText));
    SetConfigurationEnabled(false);
    ShowNote(QString());
    UpdateCallButton();
    Duration_->setText(QStringLiteral("00:00:00"));
    ShowMoney(TotalCost_, TMoney{});
    Destination_->setText(QStringLiteral("---"));
    ShowMoney(RatePerMinute_, TMoney{});
}

void TMainWindow::ShowRate(const QString& destination, TMoney rate) {
    Destination_->setText(destination.isEmpty() ? QStringLiteral("---") : destination);
    ShowMoney(RatePerMinute_, rate);
    if (Flow_->Charge().Seconds == 0) ShowMoney(TotalCost_, TMoney{});
}

void TMainWindow::ShowRateMissing() {
    RatePerMinute_->setText(QString::fromUtf8(kRateUnavailableText));
    TotalCost_->setText(QString::fromUtf8(kRateUnavailableText));
}

void TMainWindow::ShowCharge(const TCallCharge& charge) {
    Duration_->setText(DurationText(charge.Seconds));
    // Without a cost the label keeps what the rate's absence put there.
    if (charge.Cost) ShowMoney(TotalCost_, *charge.Cost);
}

// The controls come back once the portal has answered or failed, so the
// next customer starts from the balance the portal now holds.
void TMainWindow::RefreshAfterCall() {
    Portal_->BalanceAndRegister(Account_.Username, Account_.Password, this,
                                [this](const std::optional<TBalanceReply>& reply) {
                                    if (reply) {
                                        ShowMoney(Balance_, reply->Balance);
                                        Guards_->BalanceRefreshed(reply->Balance);
                                        ShowRegister(reply->Calls);
                                    }
                                    ReadyForNextCall();
                                });
}

void TMainWindow::ReadyForNextCall() {
    Refreshing_ = false;
    Number_->setEnabled(true);
    UpdateCallButton();
    ShowSessionState();
}

void TMainWindow::UpdateCallButton() {
    CallButton_->setEnabled(ReadyToCall() && !Number_->text().isEmpty());
}

void TMainWindow::SetConfigurationEnabled(bool enabled) {
    AudioDialogAction_->setEnabled(enabled);
    AccountDialogAction_->setEnabled(enabled);
}
