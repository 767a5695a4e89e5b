// Helpers shared by the component tests: calls without an engine, recording
// audio devices, and pumping the Qt event queue with a bound.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>
#include <memory>

#include "media/call.h"
#include "sip/account.h"
#include "sip/sipints.h"

inline std::shared_ptr<TCall> NewTestCall() { return TCall::Create(TCallSettings{}); }

inline ISipAccountPtr NewTestAccount() {
    return std::make_shared<TAccount>("", "127.0.0.1", "alice", "alicepw", "",
                                      TAccountAddresses{"127.0.0.1", "127.0.0.1"});
}

// Runs queued events until `done` holds or 20 s pass: a bound only a fault
// reaches, as the wait ends with the event.
inline bool PumpUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(20000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// Runs whatever is queued now.
inline void PumpQueued() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

class TRecordingSpeaker final : public ISipSpeaker {
public:
    void Play(const void*, int) override {}
    bool CanPlay() override { return true; }
};

class TRecordingMicrophone final : public ISipMicrophone {
public:
    ISipCallPtr GetCall() override { return Call_; }
    void SetCall(ISipCallPtr call) override { Call_ = std::move(call); }

private:
    ISipCallPtr Call_;
};
