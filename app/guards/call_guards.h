// What the booth watches during a call besides timing it: the credit (the
// warnings, the tone for the customer, the hang-up when the balance runs
// out) and the far end's answer (false answer, dead line). A plain object
// with no widgets: the call flow feeds it the answer, the portal's figures
// and its per-second ticks; the window shows what it signals.
//
// Threading: user-interface thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include "app/guards/credit_guard.h"
#include "app/guards/guard_settings.h"
#include "app/money/money.h"
#include "sipclient/answer_listener.h"

// Status texts, short enough for the status bar's middle panel.
inline constexpr char kOneMinuteLeftText[] = "Queda 1 minuto de saldo";
inline constexpr char kTenSecondsLeftText[] = "Quedan 10 segundos de saldo";
inline constexpr char kCreditHangUpText[] = "Saldo agotado: llamada cortada";
inline constexpr char kCreditRanOutText[] = "Saldo agotado: la llamada sigue";
inline constexpr char kNoRateText[] = "Sin tarifa: saldo sin control";
inline constexpr char kNoBalanceText[] = "Saldo desconocido: sin control";
inline constexpr char kLowBalanceText[] = "Saldo bajo: menos de %1 minutos";
inline constexpr char kFalseAnswerText[] = "posible falsa atención";
inline constexpr char kNoAudioText[] = "sin audio del destino";

class TCallGuards : public QObject {
    Q_OBJECT

public:
    // Plays a sound file at the call's speaker in the booth, over the far
    // end's voice (the component's PlayWavFileToSpeaker): the customer hears
    // it, the far end does not. A second warning waits for the first.
    using TSoundPlayer = std::function<void(const ISipCallPtr& call, const std::string& fileName)>;

    TCallGuards(TGuardSettings settings, TSoundPlayer player, QObject* parent = nullptr,
                TAnswerListener::TClock clock = std::chrono::steady_clock::now);

    // The answer of the booth's call, with its rate when the portal already
    // gave one; the balance is the one the portal last refreshed.
    void CallAnswered(const ISipCallPtr& call, std::optional<TMoney> ratePerMinute);
    // Later figures from the portal during the call.
    void RateKnown(std::optional<TMoney> ratePerMinute);
    void BalanceKnown(TMoney balance);
    // Seconds of conversation, from the call flow's timer.
    void Tick(std::int64_t elapsedSeconds);
    void CallEnded();
    // After each portal refresh (start-up, account, after a call): kept for
    // the next call, and the low-balance notice when it is low.
    void BalanceRefreshed(TMoney balance);

    bool CostWarning() const { return Active_ && Credit_.Warning(); }
    std::optional<TMoney> LastRate() const { return LastRate_; }
    // The far end's flags of the current (or last) call, as shown.
    QStringList AnswerFlags() const { return Flags_; }
    // The tone files, kept for the program's life.
    std::string ToneFile(int beeps) const;

signals:
    // An empty text takes back the last note that no longer holds.
    void StatusText(const QString& text);
    void CostWarningChanged(bool warning);
    void HangUpRequested();
    // "posible falsa atención" or "sin audio del destino", once each per call.
    void AnswerFlagged(const QString& text);

private:
    void OnAnswerFlag(ISipCallPtr call, media::TAnswerFlag flag);
    void PlayTone(int beeps);
    void ShowWarning();

    TGuardSettings Settings_;
    TSoundPlayer Player_;
    TCreditGuard Credit_;
    TAnswerListener* Listener_;  // child of this
    QTemporaryDir Tones_;
    ISipCallPtr Call_;
    bool Active_ = false;
    bool WarningShown_ = false;
    bool NoRateShown_ = false;
    // Empty until the portal first gave one (it may be down at start-up):
    // a balance of zero assumed would cut every call at its first second.
    std::optional<TMoney> LastBalance_;
    std::optional<TMoney> LastRate_;
    QStringList Flags_;
};
