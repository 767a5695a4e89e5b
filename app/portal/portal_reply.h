// Reading the billing portal's replies: values stand between fixed tags in
// the reply text, and amounts are digit strings whatever their punctuation.
#pragma once

#include <array>
#include <cstdint>

#include <QString>

#include "app/money/money.h"

// The value between the first opening tag and the first closing tag of the
// reply. Positions count from 1 and the value starts four characters after
// the opening tag (every opening tag is four characters long); a start below
// 1 counts as 1, a negative length as 0 and the value stops at the reply's
// end. So a missing closing tag gives an empty value and a missing opening
// tag gives the text from the fourth character up to the closing tag.
QString Extract(const QString& reply, const QString& openTag, const QString& closeTag);

// The characters "0" to "9" of the text in order, up to its first NUL; "0"
// when there are none.
QString Digits(const QString& text);

// A whole number made of decimal digits; throws std::overflow_error when it
// does not fit 64 bits and std::invalid_argument when it holds anything else.
std::int64_t WholeNumber(const QString& digits);

// The portal writes a balance as hundred-thousandths; every non-digit is
// dropped, except that a leading minus sign (after blanks) keeps the amount
// negative so a debt is never shown as credit.
TMoney Balance(const QString& text);

// A rate per minute in whole currency units; separators are dropped and
// nothing is scaled, so "0.50" is fifty units.
TMoney Rate(const QString& text);

// One row of the register of the last calls, as the portal writes it.
struct TRegisterRow {
    QString When;
    QString Number;
    QString Destination;
    QString Duration;
    QString Total;

    friend bool operator==(const TRegisterRow&, const TRegisterRow&) = default;
};
using TCallRegister = std::array<TRegisterRow, 5>;

// Rows 0 to 4 from the tags "<f0>" ... "</v4>"; missing values stay empty.
TCallRegister ExtractRegister(const QString& reply);

// The reply to a validation: a non-empty error means the account number or
// the password was refused. Version holds the raw "<ve>" text. A reply that
// neither refuses nor holds the account's "<va>" and "<cr>" (an error page,
// a reply cut short) throws std::invalid_argument: it is no log-in.
struct TValidationReply {
    QString Error;
    QString Display;
    TMoney Balance;
    TCallRegister Calls;
    QString Version;

    bool Refused() const { return !Error.isEmpty(); }
};
TValidationReply ParseValidation(const QString& reply);

struct TBalanceReply {
    TMoney Balance;
    TCallRegister Calls;
};
TBalanceReply ParseBalance(const QString& reply);

// Priced is false when the reply holds no rate to go by: "<vv>" missing,
// after its closing tag, or holding no digit (a portal error page, a reply
// cut short). Such a reply still reads as a zero rate.
struct TRateReply {
    QString Destination;
    TMoney Rate;
    bool Priced = false;
};
TRateReply ParseRate(const QString& reply);

// Whether the portal's "<ve>" names a newer program than our version digits;
// throws std::invalid_argument when either is not a decimal integer.
bool IsNewerVersion(const QString& portalVersion, const QString& ourVersionDigits);
