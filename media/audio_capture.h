// What every capture device shares: the attached call, the capture thread
// that owns a sound card (or the shared clock's tick for a device without
// one), and the hand-over of each 20 ms frame to the call.
//
// The thread or tick works only on a TCaptureState that it shares with the
// device object, never on the object itself: the call it feeds may drop the
// last reference to the device from inside SendAudioFrame, on that thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/audio_clock.h"
#include "media/shared_frame_clock.h"
#include "sip/sipints.h"

namespace media {

class TCaptureState {
public:
    ISipCallPtr GetCall();
    void SetCall(ISipCallPtr call);
    // Hands one frame of kFrameSamples samples to the attached call, if any;
    // the reference is copied out of the lock before the call is used.
    void Deliver(const int16_t* frame);
    // The device's listener hears that the card went away or came back.
    void SetDeviceListener(ISipMicrophone::TDeviceListener listener);
    void ReportPresent(bool present);

    // Waits until `deadline`; false when the device is being destroyed.
    bool WaitUntil(TAudioClock::time_point deadline);
    bool IsStopping();
    void RequestStop();

    // The thread reports that its device is open (empty text) or could not
    // be opened (the error's text, empty for errors that raise nothing).
    // Only the first report counts.
    void SetOpened(bool opened, const std::string& error);
    void WaitOpened();
    bool IsOpened();
    std::string GetOpenError();

private:
    std::mutex Mutex_;
    std::condition_variable Changed_;
    // Guarded by Mutex_.
    ISipCallPtr Call_;
    ISipMicrophone::TDeviceListener Listener_;
    bool Stopping_ = false;
    bool Reported_ = false;
    bool Opened_ = false;
    std::string OpenError_;
};

// Base of TMicrophone and the project's own capture devices.
class TCaptureDevice : public ISipMicrophone {
public:
    // Stops and joins the capture thread, or ends the tick.
    ~TCaptureDevice() override;
    TCaptureDevice(const TCaptureDevice&) = delete;
    TCaptureDevice& operator=(const TCaptureDevice&) = delete;

    ISipCallPtr GetCall() override { return State_->GetCall(); }
    void SetCall(ISipCallPtr call) override { State_->SetCall(std::move(call)); }
    void SetDeviceListener(TDeviceListener listener) override { State_->SetDeviceListener(std::move(listener)); }

    // Whether the device opened; if not, the capture error's text (empty
    // when the error has no text) and no frame is ever delivered.
    bool IsOpened() { return State_->IsOpened(); }
    std::string GetOpenError() { return State_->GetOpenError(); }

protected:
    TCaptureDevice();
    // Runs `body` on the capture thread and returns once it has reported
    // whether its device opened.
    void Start(std::function<void(TCaptureState&)> body);
    // For a device with no card behind it: reports it open and runs `tick`
    // at each 20 ms deadline from `start` on the shared clock's thread.
    void StartOnClock(TSharedFrameClock& clock, TAudioClock::time_point start,
                      std::function<void(TCaptureState&, TFramePacer&)> tick);

private:
    const std::shared_ptr<TCaptureState> State_;
    std::thread Thread_;                // for a card: its own thread
    TSharedFrameClock::TTicket Ticket_; // without one: a tick on the shared clock
};

}  // namespace media
