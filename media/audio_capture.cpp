#include "media/audio_capture.h"

#include <utility>

namespace media {

ISipCallPtr TCaptureState::GetCall() {
    std::lock_guard<std::mutex> guard(Mutex_);
    return Call_;
}

void TCaptureState::SetCall(ISipCallPtr call) {
    ISipCallPtr previous;
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        previous = std::exchange(Call_, std::move(call));
    }
    // `previous` is released here, outside the lock.
}

void TCaptureState::Deliver(const int16_t* frame) {
    const ISipCallPtr call = GetCall();
    if (call)
        call->SendAudioFrame(frame);
}

void TCaptureState::SetDeviceListener(ISipMicrophone::TDeviceListener listener) {
    std::lock_guard<std::mutex> guard(Mutex_);
    Listener_ = std::move(listener);
}

void TCaptureState::ReportPresent(bool present) {
    ISipMicrophone::TDeviceListener listener;
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        listener = Listener_;
    }
    if (listener)
        listener(present);
}

bool TCaptureState::WaitUntil(TAudioClock::time_point deadline) {
    std::unique_lock<std::mutex> lock(Mutex_);
    return !Changed_.wait_until(lock, deadline, [this] { return Stopping_; });
}

bool TCaptureState::IsStopping() {
    std::lock_guard<std::mutex> guard(Mutex_);
    return Stopping_;
}

void TCaptureState::RequestStop() {
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        Stopping_ = true;
    }
    Changed_.notify_all();
}

void TCaptureState::SetOpened(bool opened, const std::string& error) {
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        if (Reported_)
            return;
        Reported_ = true;
        Opened_ = opened;
        OpenError_ = error;
    }
    Changed_.notify_all();
}

void TCaptureState::WaitOpened() {
    std::unique_lock<std::mutex> lock(Mutex_);
    Changed_.wait(lock, [this] { return Reported_; });
}

bool TCaptureState::IsOpened() {
    std::lock_guard<std::mutex> guard(Mutex_);
    return Opened_;
}

std::string TCaptureState::GetOpenError() {
    std::lock_guard<std::mutex> guard(Mutex_);
    return OpenError_;
}

TCaptureDevice::TCaptureDevice() : State_(std::make_shared<TCaptureState>()) {}

void TCaptureDevice::Start(std::function<void(TCaptureState&)> body) {
    Thread_ = std::thread([state = State_, body = std::move(body)] {
        try {
            body(*state);
        } catch (const std::exception& error) {
            state->SetOpened(false, error.what());
        }
        state->SetOpened(false, "");  // a body that ended without a report
    });
    State_->WaitOpened();
}

void TCaptureDevice::StartOnClock(TSharedFrameClock& clock, TAudioClock::time_point start,
                                  std::function<void(TCaptureState&, TFramePacer&)> tick) {
    State_->SetOpened(true, "");
    Ticket_ = clock.Add(start, [state = State_, tick = std::move(tick)](TFramePacer& pacer) {
        tick(*state, pacer);
    });
}

TCaptureDevice::~TCaptureDevice() {
    State_->RequestStop();
    // Released from inside its own tick (the call let the device go while
    // taking a frame), the tick ends on the shared state it holds.
    Ticket_.Release();
    if (!Thread_.joinable())
        return;
    // Destroyed from inside its own frame hand-over: the thread cannot join
    // itself; it sees the stop request when the hand-over returns and ends on
    // its own, holding only the shared state.
    if (Thread_.get_id() == std::this_thread::get_id())
        Thread_.detach();
    else
        Thread_.join();
}

}  // namespace media
