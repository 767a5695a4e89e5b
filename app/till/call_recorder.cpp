#include "app/till/call_recorder.h"

#include <exception>

#include "app/booth/call_rules.h"

TCallRecorder::TCallRecorder(TCallJournal* journal, TClock clock, TErrorHandler onError)
    : Journal_(journal), Clock_(std::move(clock)), OnError_(std::move(onError)) {}

TCallFigures PricedFigures(const TSellingRates& rates, const QString& ratedNumber, TMoney providerRate, int seconds) {
    TCallFigures figures;
    figures.Seconds = seconds;
    figures.ChargedMinutes = seconds > 0 ? ChargedMinutes(seconds) : 0;
    figures.ProviderCost = CallCost(providerRate, seconds);
    figures.CustomerPrice = CustomerPrice(rates, ratedNumber, providerRate, seconds);
    return figures;
}

template <class TWrite>
void TCallRecorder::Record(TWrite&& write) {
    if (!Journal_) return;
    try {
        write();
    } catch (const std::exception& error) {
        if (Reported_) return;
        Reported_ = true;
        if (OnError_) OnError_(QString::fromUtf8(error.what()));
    }
}

void TCallRecorder::Placed(const QString& typed, const QString& dialString) {
    Open_ = true;
    Reported_ = false;
    Figures_ = TCallFigures{};
    RatedNumber_ = RatedNumber(dialString);
    CallId_.reset();
    Record([&] { CallId_ = Journal_->Placed(Clock_(), typed, dialString); });
}

void TCallRecorder::Rated(const QString& destination, TMoney providerRate) {
    if (!CallId_) return;
    Record([&] {
        const std::optional<TJournalCall> before = Journal_->Call(*CallId_);
        Journal_->Rated(*CallId_, destination, providerRate);
        if (Open_ || !before || !before->NeedsRate()) return;
        Figures_ = PricedFigures(Rates_, RatedNumber_, providerRate, before->Figures.Seconds);
        Journal_->Repriced(*CallId_, providerRate, TRateOrigin::Portal, Figures_);
    });
}

void TCallRecorder::Cut(const QString& reason) {
    if (CallId_) Record([&] { Journal_->SetCutReason(*CallId_, reason); });
}

void TCallRecorder::Answered() {
    if (Open_ && CallId_) Record([&] { Journal_->Answered(*CallId_, Clock_()); });
}

const TCallFigures& TCallRecorder::Tick(int seconds, std::optional<TMoney> providerRate, TMoney providerCost) {
    if (!Open_) return Figures_;
    Figures_.Seconds = seconds;
    Figures_.ChargedMinutes = seconds > 0 ? ChargedMinutes(seconds) : 0;
    Figures_.ProviderCost = providerRate ? providerCost : TMoney{};
    try {
        Figures_.CustomerPrice =
            providerRate ? CustomerPrice(Rates_, RatedNumber_, *providerRate, seconds) : TMoney{};
    } catch (const std::exception&) {
        // A price too large to keep leaves the last one.
    }
    if (CallId_) Record([&] { Journal_->Progress(*CallId_, Clock_(), Figures_); });
    return Figures_;
}

void TCallRecorder::AnswerFlagged(const QStringList& flags) {
    if (CallId_) Record([&] { Journal_->SetAnswerFlags(*CallId_, flags.join(QStringLiteral("; "))); });
}

void TCallRecorder::Ended(int sipStatus, const QString& reason, const std::optional<TCallQuality>& quality) {
    if (!Open_) return;
    Open_ = false;
    if (CallId_) Record([&] { Journal_->Ended(*CallId_, Clock_(), Figures_, sipStatus, reason, quality); });
}
