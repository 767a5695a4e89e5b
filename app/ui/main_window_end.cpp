// The main window's side of a call's end: TBoothCallEnd decides what happens
// and in which order; the window shows it.
#include <QLabel>

#include "app/booth/booth_texts.h"
#include "app/till/call_recorder.h"
#include "app/ui/cash_close_window.h"
#include "app/ui/main_window.h"
#include "sipclient/sipclient.h"

namespace {

const QString kAlarmStyle = QStringLiteral("color: red; font-weight: bold");

// The far end's voice as the media side measured it, for the call's record
// (nothing for a call that never carried audio), and whether the booth hung
// up because the far end went silent.
TEndedCallFacts EndedCallFacts(const ISipCallPtr& call) {
    TEndedCallFacts facts;
    if (!call) return facts;
    facts.MediaTimedOut = TSipClient::EndedByMediaTimeout(call);
    const media::TCallQuality measured = TSipClient::GetCallQuality(call);
    if (measured.received > 0) facts.Quality = TCallQuality{measured.mos, measured.jitterMs, measured.lossPercent};
    return facts;
}

}  // namespace

void TMainWindow::SetupCallEnd() {
    End_ = new TBoothCallEnd(*Flow_, *Recorder_, *Guards_, GuardNotes_, BalanceWatch_,
                             [this] { return EndedCallFacts(CurrentCall()); }, *this, this);
}

void TMainWindow::ShowTill() {
    ShowToCharge();
    FillUnpaidList();
    if (CashClose_ && CashClose_->isVisible()) CashClose_->Reload();
}

void TMainWindow::ShowBoothFree() {
    BoothState_->setText(QString::fromUtf8(kFreeText));
    SetConfigurationEnabled(true);
}

void TMainWindow::ShowStatusNote(const QString& text, bool alarm) {
    ShowNote(text);
    if (alarm) Panels_[1]->setStyleSheet(kAlarmStyle);
}

void TMainWindow::PrepareNextCall(bool refresh) {
    if (!refresh) {
        ReadyForNextCall();
        return;
    }
    Refreshing_ = true;
    UpdateCallButton();
    RefreshAfterCall();
}
