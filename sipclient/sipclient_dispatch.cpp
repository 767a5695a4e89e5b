// The component's side of the event hand-over: runs on the owning thread, one
// queued notification at a time, in posting order.
#include <QMetaMethod>
#include <QtGlobal>

#include <exception>
#include <mutex>

#include "sipclient/sipclient.h"

void TSipClient::Guarded(const std::function<void()>& emitEvent) {
    // An exception must not cross Qt's event loop; the queued event's
    // references are released by the caller's frame either way.
    QString error;
    try {
        emitEvent();
        return;
    } catch (const std::exception& e) {
        error = QString::fromStdString(e.what());
    } catch (...) {
        error = QStringLiteral("unknown error");
    }
    if (isSignalConnected(QMetaMethod::fromSignal(&TSipClient::HandlerError)))
        emit HandlerError(this, error);
    else
        qWarning("TSipClient: event handler failed: %s", qPrintable(error));
}

void TSipClient::DispatchLog(const std::string& text) {
    const QString line = QString::fromStdString(text);
    Guarded([&] { emit OnLog(this, line); });
}

void TSipClient::DispatchInvite(const ISipCallPtr& call) {
    // A call that left the idle state before this runs (cancelled, answered
    // elsewhere) raises nothing.
    bool due = false;
    {
        std::lock_guard guard(*call);
        if (call->GetState() == csIdle) {
            call->SetState(csRinging);
            due = true;
        }
    }
    if (due)
        Guarded([&] { emit OnInvite(this, call); });
}

void TSipClient::DispatchBye(const ISipCallPtr& call) {
    call->SetSpeaker(nullptr);  // stops playback before the application hears of it
    std::lock_guard guard(*call);
    Guarded([&] { emit OnBye(this, call); });
}

void TSipClient::DispatchRingback(const ISipCallPtr& call) {
    std::lock_guard guard(*call);
    Guarded([&] { emit OnRingback(this, call); });
}
