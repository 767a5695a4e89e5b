// The journal of the booth's calls: one row per call, written when it is
// placed, when the portal names its destination and rate, when it is
// answered, at every second of conversation, when it ends and when the
// customer pays. The window's call flow writes; the close window and the
// reprint read.
//
// Every write is its own committed transaction, so what the window showed a
// second ago is on disk. With the journal's writer thread started, the
// call's steps (placed to ended) are handed to it and committed in order a
// moment later; a failure of one is thrown by the next step. Reads, the
// checkout and voids wait for those writes and are committed before they
// return, so a receipt is never shown for a payment not on disk. Errors are std::runtime_error with the driver's
// text, and std::logic_error for a write the call's state does not allow.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QString>

#include "app/money/money.h"

class TJournalDb;

enum class TJournalState { Open, Ended, Interrupted };

// Who gave the call its rate: nobody yet, the portal, the operator at
// checkout, or the administrator's fallback rate accepted at checkout.
enum class TRateOrigin { None, Portal, Operator, Fallback };

// The voice quality the media side measured for a call.
struct TCallQuality {
    double Mos = 0;          // mean opinion score, 1 to 5
    double JitterMs = 0;     // interarrival jitter
    double LossPercent = 0;  // packets lost

    friend bool operator==(const TCallQuality&, const TCallQuality&) = default;
};

// What a call costs so far: the provider's side and the customer's.
struct TCallFigures {
    int Seconds = 0;
    std::int64_t ChargedMinutes = 0;
    TMoney ProviderCost;
    TMoney CustomerPrice;

    friend bool operator==(const TCallFigures&, const TCallFigures&) = default;
};

struct TJournalCall {
    std::int64_t Id = 0;
    QDateTime Started;
    QString Number;      // as typed
    QString DialString;  // as sent
    QString Destination;
    TMoney Rate;         // the provider's, per minute
    TRateOrigin RateOrigin = TRateOrigin::None;
    QDateTime Answered;  // invalid when never answered
    QDateTime Ended;     // invalid while open
    TCallFigures Figures;
    TJournalState State = TJournalState::Open;
    int SipStatus = 0;  // 0 when none is known
    QString EndReason;
    std::optional<TCallQuality> Quality;
    QString AnswerFlags;  // the far end's flags after the answer, "; " between them
    QString CutReason;    // the guard's, when the booth cut the call
    int VoidedPayments = 0;  // payments of the call the administrator took back
    QDateTime PaidAt;  // invalid while unpaid
    TMoney AmountReceived;

    bool IsPaid() const { return PaidAt.isValid(); }
    // Talked but never priced: the rate is to be entered at checkout.
    bool NeedsRate() const {
        return !IsPaid() && State != TJournalState::Open && Figures.Seconds > 0 && RateOrigin == TRateOrigin::None;
    }
    // An ended call with something to charge that nobody has charged yet.
    bool IsUnpaid() const {
        return !IsPaid() && State != TJournalState::Open && (Figures.CustomerPrice > TMoney{} || NeedsRate());
    }
};

class TCallJournal {
public:
    explicit TCallJournal(TJournalDb& db) : Db_(db) {}

    // A new open call; returns its id.
    std::int64_t Placed(const QDateTime& at, const QString& number, const QString& dialString);
    void Rated(std::int64_t id, const QString& destination, TMoney rate);
    void Answered(std::int64_t id, const QDateTime& at);
    // The running figures; written every second, so a crash loses at most one.
    void Progress(std::int64_t id, const QDateTime& at, const TCallFigures& figures);
    // Closes the call with its final figures and the SIP status that ended it.
    void Ended(std::int64_t id, const QDateTime& at, const TCallFigures& figures, int sipStatus, const QString& reason,
               const std::optional<TCallQuality>& quality = std::nullopt);
    // The figures of an ended, unpaid call priced after its end: the portal's
    // rate came late (origin Portal), or the till priced it by hand. Throws
    // std::logic_error for a call open or paid.
    void Repriced(std::int64_t id, TMoney rate, TRateOrigin origin, const TCallFigures& figures);
    // The booth cut the call itself ("saldo agotado"); kept apart from the
    // SIP status, which only says how the line ended.
    void SetCutReason(std::int64_t id, const QString& reason);
    // The quality figures may arrive after the end.
    void SetQuality(std::int64_t id, const TCallQuality& quality);
    void SetAnswerFlags(std::int64_t id, const QString& flags);
    // Checkout. Throws std::logic_error "La llamada ya fue cobrada." for a
    // call paid before, and "La llamada todavía está en curso." for an open one.
    void Paid(std::int64_t id, const QDateTime& at, TMoney received);
    // Takes a wrong checkout back: the call is unpaid again and the payment
    // it had is kept in the voided payments. Throws std::logic_error
    // "La llamada no fue cobrada." for a call not paid.
    void VoidPayment(std::int64_t id, const QDateTime& at);
    // How many payments of the call were voided (the close's audit).
    int VoidedPayments(std::int64_t id);

    std::optional<TJournalCall> Call(std::int64_t id);
    // Calls started in [from, to), oldest first.
    std::vector<TJournalCall> Calls(const QDateTime& from, const QDateTime& to);
    // At most `count` of them that come after `after` (a call of the same
    // list), for reading a long list a page at a time.
    std::vector<TJournalCall> CallsAfter(const QDateTime& from, const QDateTime& to, const TJournalCall& after,
                                         int count);
    std::vector<TJournalCall> FirstCalls(const QDateTime& from, const QDateTime& to, int count);
    // The ended calls started from `from` on that are still to be charged,
    // oldest first.
    std::vector<TJournalCall> Unpaid(const QDateTime& from);
    // The most recent calls, newest first.
    std::vector<TJournalCall> Latest(int count);

private:
    std::vector<TJournalCall> Select(const QString& where, const QVariantList& values);
    // A write of the call path; `oneOpenCall`: it must change exactly one
    // open call, the id being the last value (std::logic_error otherwise).
    void Write(const QString& statement, const QVariantList& values, bool oneOpenCall = false);
    // Throws std::logic_error when no open call has this id.
    void UpdateOpen(std::int64_t id, const QString& assignments, QVariantList values);

    TJournalDb& Db_;
};

// The journal's word for an origin, and back.
QString RateOriginText(TRateOrigin origin);

// Milliseconds since the epoch as the journal stores times, and back.
qint64 JournalTime(const QDateTime& at);
QDateTime FromJournalTime(const QVariant& value);
