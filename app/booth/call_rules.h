// Rules about the booth's calls that the window applies, as plain functions.
#pragma once

#include <QString>
#include <Qt>

#include "app/money/money.h"
#include "sip/sipints.h"

// Whether closing the window (or "&Colgar") hangs a call up: every call
// except an incoming one still ringing, which the booth never answers and
// leaves to the caller.
bool IsCallToHangUp(bool incoming, TCallState state);

// What the booth dials for the typed number, cleaned by FilterDialInput
// first: short service numbers (exactly
// three characters), the provider's own "999" numbers and numbers already
// written with the international "00" go as typed; everything else gets
// "00" in front.
QString DialString(const QString& typed);

// The minutes charged after `ticks` seconds of conversation: a minute is
// charged as soon as it begins, so minute k+1 from the tick that shows k:00.
std::int64_t ChargedMinutes(int ticks);

// The cost of `ticks` seconds at `ratePerMinute`, every minute begun charged
// whole; throws std::overflow_error when it does not fit.
TMoney CallCost(TMoney ratePerMinute, int ticks);

// The number field's text with what people type around numbers taken out:
// only digits, "*" and "#" stay, and a leading "+" becomes "00".
QString FilterDialInput(const QString& typed);

// What the status bar says about a call that has ended, in Spanish, with the
// SIP status after the text; empty when there is nothing to say.
struct TCallEnd;
QString CallEndText(const TCallEnd& end);

// The running cost after `ticks` seconds, priced from the rate as the
// window shows it (its decimal digits read as hundredths, whatever the
// currency format), so the customer pays exactly what the label says.
// Throws std::overflow_error for a rate too large to price.
TMoney RunningCost(const QString& shownRate, int ticks);

// The duration display one second later; the display is a time of day, so
// it wraps after 23:59:59 while the charged minutes keep growing. A text
// that is no time starts again from 00:00:00.
QString NextDuration(const QString& shown);

// The duration display after `seconds` of conversation, "hh:mm:ss",
// wrapping after 23:59:59 like NextDuration.
QString DurationText(int seconds);

// How a cell of the register is drawn: its alignment and whether one space
// goes in front of the text (the columns read left to right).
struct TRegisterCellStyle {
    Qt::Alignment Alignment;
    bool LeadingSpace = false;

    friend bool operator==(const TRegisterCellStyle&, const TRegisterCellStyle&) = default;
};
TRegisterCellStyle RegisterCellStyle(int column);
