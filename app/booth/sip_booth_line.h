// The booth's line over the SIP component: dials with the window's account
// and the chosen sound cards, and reports answer and end of the call it
// placed last. Events of other calls (an incoming call ringing unanswered,
// a call placed before) are passed over.
//
// Threading: user-interface thread only.
#pragma once

#include <QObject>

#include "app/booth/booth_line.h"
#include "sipclient/sipclient.h"

class TSipBoothLine : public QObject, public IBoothLine {
    Q_OBJECT

public:
    explicit TSipBoothLine(TSipClient& client, QObject* parent = nullptr);

    void SetAccount(ISipAccountPtr account) { Account_ = std::move(account); }
    // Device numbers of the media layer; -1 is the system's default.
    void SetDevices(int capture, int playback);

    TLineCallId Dial(const QString& dialString) override;
    void HangUp(TLineCallId call) override;

    // The call placed last; it stays after the call has ended.
    ISipCallPtr CurrentCall() const { return Current_; }
    // Sends a keypad digit into the current call while it is in conversation;
    // false when there is no such call.
    bool SendDigit(const QString& digit);

signals:
    // The far end rings (a 180 to our INVITE).
    void Ringing(TLineCallId call);
    void Answered(TLineCallId call);
    void Ended(TLineCallId call, int status, const QString& reason);
    // The far end asked to transfer a call and was refused.
    void TransferRefused();

private:
    void InviteOk(TSipClient* sender, ISipCallPtr call);
    void Bye(TSipClient* sender, ISipCallPtr call);
    void TransferRequest(TSipClient* sender, ISipCallPtr call, const QString& target);

    TSipClient& Client_;
    ISipAccountPtr Account_;
    int Capture_ = -1;
    int Playback_ = -1;
    ISipCallPtr Current_;
    TLineCallId CurrentId_ = 0;
    TLineCallId LastId_ = 0;
};
