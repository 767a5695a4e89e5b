#include "sip/event_sink.h"

ISipEventHandlerPtr TEventSinkRef::Get() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Sink_;
}

void TEventSinkRef::Set(ISipEventHandlerPtr sink) {
    ISipEventHandlerPtr previous;  // released outside the lock
    std::lock_guard<std::mutex> guard(Lock_);
    previous = std::exchange(Sink_, std::move(sink));
}
