// Listens to a call's far end from its answer on (received frames, or the
// lack of them) and reports the answer supervision's flags as a signal on
// the owning thread: the one place the booth learns of a false answer or a
// dead line. The call itself is never touched.
//
// Threading contract:
// - Listen, Stop, Tick and the destructor run on the owning thread.
// - The frame tap runs on the call's media thread; it and the owning thread
//   share the supervision under TFrameTap's mutex, and a flag raised there
//   is queued to the owning thread. The destructor cuts the tap off from
//   this object before it dies, so no flag reaches a dead listener.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QObject>

#include "media/answer_supervision.h"
#include "sipclient/sipclient.h"  // the call pointer as a signal argument

Q_DECLARE_METATYPE(media::TAnswerFlag)

class TAnswerListener : public QObject {
    Q_OBJECT

public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;

    explicit TAnswerListener(QObject* parent = nullptr, TClock clock = std::chrono::steady_clock::now);
    ~TAnswerListener() override;
    TAnswerListener(const TAnswerListener&) = delete;
    TAnswerListener& operator=(const TAnswerListener&) = delete;

    // Read at the next Listen.
    void SetSettings(const media::TAnswerSupervisionSettings& value) { Settings_ = value; }
    const media::TAnswerSupervisionSettings& Settings() const { return Settings_; }

    // Starts judging `call`, answered now; a call listened to before is let go.
    void Listen(ISipCallPtr call);
    // Lets the call go (its end, or the next call).
    void Stop();
    // Time passing: a far end that sends no RTP is noticed only here. The
    // call flow calls it from its own clock, every second is enough.
    void Tick();

    // Why the last false answer was flagged (ringback or announcement).
    media::TFalseAnswerCause Cause() const;

signals:
    // Each flag at most once per call listened to.
    void Flagged(ISipCallPtr call, media::TAnswerFlag flag);

private:
    class TFrameTap;

    void Report(const ISipCallPtr& call, media::TAnswerFlag flag);

    TClock Clock_;
    media::TAnswerSupervisionSettings Settings_;
    ISipCallPtr Call_;
    std::shared_ptr<TFrameTap> Tap_;  // shared with the call while listening
};
