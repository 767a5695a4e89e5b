#include "app/counter/booth_session.h"

#include <algorithm>

QString DialRefusal(bool shopEnabled, const TBoothSession& session) {
    if (!shopEnabled || session.IsOpen()) return {};
    return QString::fromUtf8(kBoothClosedText);
}

TSessionLimit::TSessionLimit(TMoney remaining, TPriceAt priceAt)
    : Remaining_(remaining), PriceAt_(std::move(priceAt)) {}

// The next second is paid for when the price at it stays within what is
// left; the warning comes when a minute more would not be.
TCreditEvent TSessionLimit::Tick(int seconds) {
    if (Cut_) return TCreditEvent::None;
    if (PriceAt_(seconds + 1) > Remaining_) {
        Cut_ = true;
        return TCreditEvent::HangUp;
    }
    if (!Warned_ && PriceAt_(seconds + 60) > Remaining_) {
        Warned_ = true;
        return TCreditEvent::OneMinuteLeft;
    }
    return TCreditEvent::None;
}

std::optional<TMoney> SessionRemaining(const TBoothSession& session, TMoney spent) {
    if (!session.Limit) return std::nullopt;
    return TMoney{std::max<std::int64_t>(0, session.Limit->TenThousandths - spent.TenThousandths)};
}
