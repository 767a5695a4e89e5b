// One booth call from "&Llamar" to its end: the number typed and the dial
// string, the destination and rate asked of the portal for this call, the
// seconds, charged minutes and running cost, and how it ended. The flow has
// no widgets: the window shows its signals and forwards the operator's
// clicks and the line's events. One object serves call after call; the
// values of a finished call stay readable until the next one is placed.
//
// Replies count only for the call they were asked for: every call gets a
// new serial number and a reply for an older serial is passed over, as are
// line events for any call but the flow's own. The rate is asked for until
// it comes, after the call's end too (until the next call is placed): a call
// nobody priced would otherwise go out free.
//
// Threading: user-interface thread only; nothing here waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include <QObject>
#include <QString>

#include "app/booth/booth_line.h"
#include "app/money/money.h"
#include "app/portal/portal_reply.h"

class ICallClock;
class IRateSource;

enum class TBoothCallPhase { Idle, Ringing, InCall };

// How long a rate request may take and how often it is asked again: the
// pause after a failure doubles each time up to MaxDelay, so a portal that
// is down is not hammered and one that comes back is asked within MaxDelay.
struct TRateRetries {
    std::chrono::milliseconds Wait{8000};       // unanswered this long counts as failed
    std::chrono::milliseconds Delay{5000};      // from the first failure to the next request
    std::chrono::milliseconds MaxDelay{60000};  // the longest pause between requests
};

// The running charge: seconds answered, minutes begun, and the cost when a
// rate is known.
struct TCallCharge {
    int Seconds = 0;
    std::int64_t Minutes = 0;
    std::optional<TMoney> Cost;
};

// How a call ended. Status is the SIP status the line reported (0 when
// none); Refused means the line would not place it at all.
struct TCallEnd {
    int Status = 0;
    QString Reason;
    bool Answered = false;
    bool Refused = false;
};

class TBoothCallFlow : public QObject {
    Q_OBJECT

public:
    TBoothCallFlow(IBoothLine& line, IRateSource& rates, ICallClock& clock, QObject* parent = nullptr);

    void SetRateRetries(const TRateRetries& value) { Retries_ = value; }

    // "&Llamar" with the number as typed. Throws std::logic_error while a
    // call is open and std::invalid_argument for an empty number. When the
    // line refuses the call the flow is idle again, has emitted Ended with
    // Refused set, and the line's exception goes on to the caller.
    void Place(const QString& typed);
    // "&Colgar": asks the line to end the open call; nothing when idle.
    void HangUp();

    TBoothCallPhase Phase() const { return Phase_; }
    bool IsOpen() const { return Phase_ != TBoothCallPhase::Idle; }
    TLineCallId LineCall() const { return LineCall_; }
    const QString& Typed() const { return Typed_; }
    const QString& DialString() const { return DialString_; }
    // Empty until the portal has priced the call.
    const QString& Destination() const { return Destination_; }
    const std::optional<TMoney>& Rate() const { return Rate_; }
    const TCallCharge& Charge() const { return Charge_; }
    const TCallEnd& End() const { return End_; }

public slots:
    // The line's events; other calls than the flow's own are passed over.
    void LineAnswered(TLineCallId call);
    // The far end rings (its 180): the booth's call is "Timbrando".
    void LineRinging(TLineCallId call);
    void LineEnded(TLineCallId call, int status, const QString& reason);

signals:
    // Before the line is asked to dial, so the booth shows the call first.
    void Placed(const QString& typed, const QString& dialString);
    void RateKnown(const QString& destination, TMoney rate);
    // A rate request failed or took too long and no rate is known yet.
    void RateMissing();
    // The rate came after the call's end; Charge() holds the call's final
    // price at it. RateKnown comes first.
    void PricedAfterEnd(const TCallCharge& charge);
    // The far end rings; at most once a call, and never after the answer.
    void FarEndRinging();
    void Answered();
    // Every second while answered, and again when a rate arrives during the
    // conversation (the call is then priced from its first second).
    void Charged(const TCallCharge& charge);
    void Ended(const TCallEnd& end);

private:
    void AskRate();
    void RateReplied(std::uint64_t serial, int attempt, const std::optional<TRateReply>& reply);
    void RateFailed(std::uint64_t serial, int attempt);
    void Tick();
    // The seconds answered as the monotonic clock reads them; true when
    // they moved.
    bool CountSeconds();
    bool NeedsRate() const { return IsOpen() || End_.Answered; }
    void Price();
    void Finish(const TCallEnd& end);

    IBoothLine& Line_;
    IRateSource& Rates_;
    ICallClock& Clock_;
    TRateRetries Retries_;

    std::uint64_t Serial_ = 0;  // of the call placed last
    TBoothCallPhase Phase_ = TBoothCallPhase::Idle;
    TLineCallId LineCall_ = 0;
    QString Typed_;
    QString DialString_;
    QString Destination_;
    std::optional<TMoney> Rate_;
    TCallCharge Charge_;
    TCallEnd End_;
    bool FarEndRang_ = false;
    int RateAsked_ = 0;   // requests sent for this call
    int RateFailed_ = 0;  // the last request whose failure was counted
    std::chrono::milliseconds NextDelay_{0};
    std::chrono::milliseconds AnsweredAt_{0};  // on the clock's monotonic reading
};

Q_DECLARE_METATYPE(TCallCharge)
Q_DECLARE_METATYPE(TCallEnd)
