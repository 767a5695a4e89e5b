#include "sipclient/answer_listener.h"

#include <mutex>
#include <optional>
#include <span>

#include <QMetaObject>

// The call's frame tap: holds the supervision and hands flags to the
// listener. Owner_ is cleared (under Mutex_) by the listener before it lets
// go, so a frame arriving at that moment posts nothing.
class TAnswerListener::TFrameTap final : public ISipConference {
public:
    TFrameTap(TAnswerListener* owner, const media::TAnswerSupervisionSettings& settings, TClock clock,
              ISipCallPtr call)
        : Clock_(std::move(clock)), Start_(Clock_()), Call_(std::move(call)), Owner_(owner),
          Supervision_(settings) {}

    // Media thread, under the call's tap lock.
    void ReceivedFrame(ISipCall&, const int16_t* pcm) override {
        std::lock_guard guard(Mutex_);
        const std::optional<media::TAnswerFlag> flag =
            Supervision_.Frame(std::span(pcm, media::kAnswerFrameSamples), ElapsedMs());
        if (!flag || !Owner_) return;
        QMetaObject::invokeMethod(
            Owner_, [owner = Owner_, call = Call_, flag = *flag] { owner->Report(call, flag); },
            Qt::QueuedConnection);
    }
    void SentFrame(ISipCall&, const int16_t*) override {}

    // Owning thread.
    std::optional<media::TAnswerFlag> Tick() {
        std::lock_guard guard(Mutex_);
        return Supervision_.Tick(ElapsedMs());
    }
    media::TFalseAnswerCause Cause() const {
        std::lock_guard guard(Mutex_);
        return Supervision_.Cause();
    }
    void Detach() {
        std::lock_guard guard(Mutex_);
        Owner_ = nullptr;
    }

private:
    std::int64_t ElapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock_() - Start_).count();
    }

    const TClock Clock_;
    const std::chrono::steady_clock::time_point Start_;
    const ISipCallPtr Call_;
    mutable std::mutex Mutex_;
    TAnswerListener* Owner_;                   // guarded by Mutex_
    media::TAnswerSupervision Supervision_;    // guarded by Mutex_
};

TAnswerListener::TAnswerListener(QObject* parent, TClock clock) : QObject(parent), Clock_(std::move(clock)) {
    qRegisterMetaType<media::TAnswerFlag>();
}

TAnswerListener::~TAnswerListener() { Stop(); }

void TAnswerListener::Listen(ISipCallPtr call) {
    Stop();
    if (!call) return;
    Call_ = std::move(call);
    Tap_ = std::make_shared<TFrameTap>(this, Settings_, Clock_, Call_);
    Call_->SetConference(Tap_);
}

void TAnswerListener::Stop() {
    if (!Tap_) return;
    Tap_->Detach();
    // Taken after Detach: the call's tap lock is never held with ours.
    Call_->SetConference(nullptr);
    Tap_.reset();
    Call_.reset();
}

void TAnswerListener::Tick() {
    if (!Tap_) return;
    if (const std::optional<media::TAnswerFlag> flag = Tap_->Tick()) Report(Call_, *flag);
}

media::TFalseAnswerCause TAnswerListener::Cause() const {
    return Tap_ ? Tap_->Cause() : media::TFalseAnswerCause::None;
}

// A flag queued from the media thread may arrive after the call was let go
// (the next call is already listened to): it belongs to the old call and
// is dropped.
void TAnswerListener::Report(const ISipCallPtr& call, media::TAnswerFlag flag) {
    if (call != Call_) return;
    emit Flagged(call, flag);
}
