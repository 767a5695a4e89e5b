#include "tools/impair_relay/impairment.h"

#include <algorithm>

namespace relay {

TImpairmentModel::TImpairmentModel(const TImpairment& impairment)
    : Impairment_(impairment), Random_(impairment.seed) {
    const double loss = std::clamp(impairment.lossPercent / 100.0, 0.0, 0.99);
    LeaveBad_ = 1.0 / std::max(1.0, impairment.burstLength);
    // Long-run share of the bad state: enter / (enter + leave) = loss.
    EnterBad_ = loss <= 0 ? 0 : LeaveBad_ * loss / (1.0 - loss);
}

TFate TImpairmentModel::Next() {
    TFate fate;
    // Every draw is taken whatever the outcome, so one seed gives the same
    // sequence of fates for any mix of settings that share the loss figures.
    const double stateDraw = Uniform();
    const double jitterDraw = Uniform();
    const double reorderDraw = Uniform();
    const double duplicateDraw = Uniform();
    Bad_ = Bad_ ? stateDraw >= LeaveBad_ : stateDraw < EnterBad_;
    if (Bad_) {
        fate.lost = true;
        return fate;
    }
    double wait = Impairment_.delayMs + jitterDraw * Impairment_.jitterMs;
    if (reorderDraw * 100.0 < Impairment_.reorderPercent) {
        fate.reordered = true;
        wait += Impairment_.reorderMs;
    }
    fate.sendAfterMs.push_back(wait);
    if (duplicateDraw * 100.0 < Impairment_.duplicatePercent)
        fate.sendAfterMs.push_back(wait + 1.0);
    return fate;
}

}  // namespace relay
