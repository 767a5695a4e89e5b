// A booth session: the counter opens a booth for a customer (optionally
// with a limit in money) and closes it at checkout. Plain rules the booth
// and the counter share; no database, no widgets.
//
// Only a booth that names a shop database obeys sessions. When it cannot
// reach the database it keeps the last state it knew (kept in its settings
// across restarts): a booth opened stays open, so a customer mid-session is
// never locked out by a network fault, and a booth closed stays closed. A
// booth that has never heard from the counter is closed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QDateTime>
#include <QString>

#include "app/guards/credit_guard.h"
#include "app/money/money.h"

inline constexpr char kBoothClosedText[] = "Cabina cerrada: pase por el mostrador";
inline constexpr char kSessionLimitCutReason[] = "límite de la sesión";
inline constexpr char kSessionLimitCutText[] = "Límite de la sesión: llamada cortada";
inline constexpr char kSessionMinuteLeftText[] = "Queda 1 minuto del límite de la sesión";

struct TBoothSession {
    std::int64_t Id = 0;  // 0: the booth is closed
    QDateTime Opened;
    std::optional<TMoney> Limit;

    bool IsOpen() const { return Id != 0; }
    friend bool operator==(const TBoothSession&, const TBoothSession&) = default;
};

// Why the booth may not dial now, or empty when it may. Without a shop
// database the booth works alone and sessions do not apply.
QString DialRefusal(bool shopEnabled, const TBoothSession& session);

// Watches one call against what its session may still spend: the limit
// less what the session's earlier calls cost the customer. The price is the
// customer's at a given second of conversation (increments, minimum and
// rounding included), so the cut falls on the last second the limit pays
// for, never one later.
class TSessionLimit {
public:
    using TPriceAt = std::function<TMoney(int seconds)>;

    // `remaining` is the limit less what the session already spent.
    TSessionLimit(TMoney remaining, TPriceAt priceAt);

    // The event due after `seconds` of conversation, each at most once;
    // the same kinds the credit guard gives (OneMinuteLeft, HangUp).
    TCreditEvent Tick(int seconds);

private:
    TMoney Remaining_;
    TPriceAt PriceAt_;
    bool Warned_ = false;
    bool Cut_ = false;
};

// What a session may still spend: its limit less the customer prices of its
// calls so far; empty when the session has no limit. Never below zero.
std::optional<TMoney> SessionRemaining(const TBoothSession& session, TMoney spent);
