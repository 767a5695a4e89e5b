#include "app/booth/sip_booth_line.h"

#include "app/booth/call_rules.h"

TSipBoothLine::TSipBoothLine(TSipClient& client, QObject* parent) : QObject(parent), Client_(client) {
    connect(&Client_, &TSipClient::OnInviteOk, this, &TSipBoothLine::InviteOk);
    connect(&Client_, &TSipClient::OnBye, this, &TSipBoothLine::Bye);
    connect(&Client_, &TSipClient::OnRingback, this, [this](TSipClient*, ISipCallPtr call) {
        if (call && call == Current_) emit Ringing(CurrentId_);
    });
    connect(&Client_, &TSipClient::OnTransferRequest, this, &TSipBoothLine::TransferRequest);
}

void TSipBoothLine::SetDevices(int capture, int playback) {
    Capture_ = capture;
    Playback_ = playback;
}

TLineCallId TSipBoothLine::Dial(const QString& dialString) {
    Current_ = Client_.MakeCall(Account_, dialString.toStdString(), Capture_, Playback_);
    CurrentId_ = ++LastId_;
    return CurrentId_;
}

// An incoming call still ringing is never the booth's to end; a call that
// has ended is not hung up again (the engine would send a stray CANCEL).
void TSipBoothLine::HangUp(TLineCallId call) {
    if (call != CurrentId_ || !Current_) return;
    if (!IsCallToHangUp(Current_->GetIncoming(), Current_->GetState())) return;
    Client_.HangUp(Current_);
}

bool TSipBoothLine::SendDigit(const QString& digit) {
    if (!Current_ || Current_->GetState() != csConnected) return false;
    Client_.SendDtmf(Current_, digit.toStdString());
    return true;
}

void TSipBoothLine::InviteOk(TSipClient*, ISipCallPtr call) {
    if (call && call == Current_) emit Answered(CurrentId_);
}

void TSipBoothLine::Bye(TSipClient*, ISipCallPtr call) {
    if (!call || call != Current_) return;
    emit Ended(CurrentId_, call->GetStatusCode(), QString::fromStdString(call->GetStatusText()));
}

// The booth's customer pays for the number dialled: a far end may not move
// the call elsewhere at the booth's expense.
void TSipBoothLine::TransferRequest(TSipClient*, ISipCallPtr call, const QString&) {
    if (!call) return;
    Client_.RefuseTransfer(call);
    emit TransferRefused();
}
