#include "app/guards/call_guards.h"

#include <QFile>

#include "media/warning_tone.h"

namespace {

// Two beeps a minute before the end, three ten seconds before.
constexpr int kMinuteBeeps = 2;
constexpr int kTenSecondBeeps = 3;

void WriteTone(const QString& fileName, int beeps) {
    QFile file(fileName);
    const std::string wav = media::WarningToneWav(beeps);
    if (file.open(QIODevice::WriteOnly)) file.write(wav.data(), static_cast<qint64>(wav.size()));
}

}  // namespace

TCallGuards::TCallGuards(TGuardSettings settings, TSoundPlayer player, QObject* parent,
                         TAnswerListener::TClock clock)
    : QObject(parent),
      Settings_(settings),
      Player_(std::move(player)),
      Credit_(settings.Credit),
      Listener_(new TAnswerListener(this, std::move(clock))) {
    Listener_->SetSettings(settings.Answer);
    connect(Listener_, &TAnswerListener::Flagged, this, &TCallGuards::OnAnswerFlag);
    for (const int beeps : {kMinuteBeeps, kTenSecondBeeps})
        WriteTone(QString::fromStdString(ToneFile(beeps)), beeps);
}

std::string TCallGuards::ToneFile(int beeps) const {
    return Tones_.filePath(QStringLiteral("aviso-saldo-%1.wav").arg(beeps)).toStdString();
}

void TCallGuards::CallAnswered(const ISipCallPtr& call, std::optional<TMoney> ratePerMinute) {
    Call_ = call;
    Active_ = true;
    WarningShown_ = false;
    NoRateShown_ = false;
    Flags_.clear();
    Credit_ = TCreditGuard(Settings_.Credit);
    if (LastBalance_) Credit_.SetBalance(*LastBalance_);
    Listener_->Listen(call);
    RateKnown(ratePerMinute);
}

void TCallGuards::RateKnown(std::optional<TMoney> ratePerMinute) {
    if (ratePerMinute && ratePerMinute->TenThousandths <= 0) ratePerMinute.reset();
    if (ratePerMinute) LastRate_ = ratePerMinute;
    if (!Active_) return;
    if (!LastBalance_) {
        emit StatusText(QString::fromUtf8(kNoBalanceText));
        return;
    }
    Credit_.SetRate(ratePerMinute);
    if (!Credit_.Guarding()) {
        NoRateShown_ = true;
        emit StatusText(QString::fromUtf8(kNoRateText));
    } else if (NoRateShown_) {
        NoRateShown_ = false;
        emit StatusText(QString());  // the "no rate" note is no longer true
    }
    ShowWarning();
}

void TCallGuards::BalanceKnown(TMoney balance) {
    if (!Active_) return;
    const bool first = !LastBalance_;
    LastBalance_ = balance;
    Credit_.SetBalance(balance);
    // The rate told before the first balance arms the guard now.
    if (first && LastRate_) RateKnown(LastRate_);
    ShowWarning();
}

void TCallGuards::Tick(std::int64_t elapsedSeconds) {
    if (!Active_) return;
    Listener_->Tick();
    switch (Credit_.Tick(elapsedSeconds)) {
        case TCreditEvent::OneMinuteLeft:
            emit StatusText(QString::fromUtf8(kOneMinuteLeftText));
            PlayTone(kMinuteBeeps);
            break;
        case TCreditEvent::TenSecondsLeft:
            emit StatusText(QString::fromUtf8(kTenSecondsLeftText));
            PlayTone(kTenSecondBeeps);
            break;
        case TCreditEvent::HangUp:
            emit StatusText(QString::fromUtf8(kCreditHangUpText));
            emit HangUpRequested();
            break;
        case TCreditEvent::RanOut:
            emit StatusText(QString::fromUtf8(kCreditRanOutText));
            break;
        case TCreditEvent::None:
            break;
    }
    ShowWarning();
}

void TCallGuards::CallEnded() {
    if (!Active_) return;
    Active_ = false;
    Listener_->Stop();
    Call_.reset();
    ShowWarning();
}

void TCallGuards::BalanceRefreshed(TMoney balance) {
    // During a call the credit warnings say more than the notice would.
    if (Active_) {
        BalanceKnown(balance);
        return;
    }
    LastBalance_ = balance;
    if (IsLowBalance(balance, LastRate_, Settings_.LowBalanceMinutes))
        emit StatusText(QString::fromUtf8(kLowBalanceText).arg(Settings_.LowBalanceMinutes));
}

void TCallGuards::OnAnswerFlag(ISipCallPtr call, media::TAnswerFlag flag) {
    if (!Active_ || call != Call_) return;
    const QString text = QString::fromUtf8(flag == media::TAnswerFlag::NoAudioFromDestination ? kNoAudioText
                                                                                               : kFalseAnswerText);
    Flags_ << text;
    emit AnswerFlagged(text);
}

// The tone is a courtesy: a call the engine already let go hears nothing.
void TCallGuards::PlayTone(int beeps) {
    if (!Call_ || !Player_) return;
    try {
        Player_(Call_, ToneFile(beeps));
    } catch (const std::exception&) {
    }
}

void TCallGuards::ShowWarning() {
    const bool warning = CostWarning();
    if (warning == WarningShown_) return;
    WarningShown_ = warning;
    emit CostWarningChanged(warning);
}
