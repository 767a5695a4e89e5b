// What the counter shows of each booth: its live state as the booth last
// wrote it, its session, and its calls still to be charged. A plain value
// read from the shop database; the words and the running duration are
// worked out here from the counter's own clock, so the board ticks without
// asking the database every second.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QString>

#include "app/money/money.h"

// A booth that has not been heard from for this long is shown as out of
// reach: it writes its heartbeat every few seconds while it runs.
inline constexpr int kBoothSilenceSeconds = 15;

inline constexpr char kBoardFreeText[] = "Libre";
inline constexpr char kBoardClosedText[] = "Cerrada";
inline constexpr char kBoardDialingText[] = "Marcando";
inline constexpr char kBoardRingingText[] = "Timbrando";
inline constexpr char kBoardInCallText[] = "En curso";
inline constexpr char kBoardSilentText[] = "Sin conexión desde %1";

struct TBoothRow {
    QString Name;
    QString State;  // as the booth wrote it: one of the texts above but the last
    QString Number;
    QString Destination;
    QDateTime Started;   // of the current call; invalid when none
    QDateTime Answered;  // invalid until answered
    TMoney ProviderCost;
    TMoney CustomerPrice;
    QDateTime LastSeen;  // the booth's heartbeat; invalid when never heard
    // The booth's session opened at the counter; invalid when it is closed.
    std::int64_t SessionId = 0;
    QDateTime SessionOpened;
    std::optional<TMoney> SessionLimit;
    int UnpaidCalls = 0;
    TMoney UnpaidAmount;

    bool SessionOpen() const { return SessionId != 0; }
    // A call is being dialled, rings or runs.
    bool InCall() const;

    friend bool operator==(const TBoothRow&, const TBoothRow&) = default;
};

// The state in the counter's words at `now`: the booth's own word, or
// "Sin conexión desde HH:MM" (local time of the last heartbeat) once the
// booth has been silent kBoothSilenceSeconds; an idle booth without a
// session is "Cerrada".
QString BoardStateText(const TBoothRow& row, const QDateTime& now);

// Whether the booth is out of reach at `now`.
bool BoothSilent(const TBoothRow& row, const QDateTime& now);

// Seconds of conversation of the current call at `now`: from the answer,
// never negative; 0 while it only rings or when there is no call.
std::int64_t RunningSeconds(const TBoothRow& row, const QDateTime& now);

// The row named `name`, or nullptr.
const TBoothRow* FindBooth(const std::vector<TBoothRow>& rows, const QString& name);
