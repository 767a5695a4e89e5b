// TSipClientEventHandler: the engine's event sink installed by TSipClient.
//
// Every notification except the device ones is queued to the component's
// thread with Qt::QueuedConnection, carrying its own counted reference; posts
// to one receiver keep their order. The sink never waits for the component.
//
// The sink may outlive the component (a call keeps the sink it was created
// with), so it reaches the component only through TSipClientEventTarget,
// which the component detaches in its destructor: later notifications are
// dropped, like messages posted to a window that no longer exists.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "sip/sipints.h"
#include "sipclient/sipclient.h"

class TSipClientEventTarget {
public:
    explicit TSipClientEventTarget(TSipClient* client) : Client_(client) {}

    // Queues `dispatch(client)` to the component's thread; dropped once the
    // component is gone. The lock is held only for the post itself.
    void Post(std::function<void(TSipClient&)> dispatch);
    void Detach();

    // Audio devices given back by a call are finished on the component's
    // thread, never where they are given back (under the call's lock, with
    // a capture thread that may be waiting for it): they are kept here until
    // ReleaseParked, which a queued event runs on the component's thread.
    // Once detached there is no component thread to post to: the component
    // calls it when its engine is off and no call lock is held, or they go
    // with the target itself.
    void Finish(ISipMicrophonePtr microphone, ISipSpeakerPtr speaker);
    void ReleaseParked();

    void SetDevices(TAudioDeviceFactory factory);
    TAudioDeviceFactory GetDevices();

private:
    // Lock_ held and Client_ set.
    void PostLocked(std::function<void(TSipClient&)> dispatch);

    std::mutex Lock_;
    TSipClient* Client_;           // guarded by Lock_; null once detached
    TAudioDeviceFactory Devices_;  // guarded by Lock_
    // Guarded by Lock_; devices given back and not yet finished.
    std::vector<ISipMicrophonePtr> ParkedMicrophones_;
    std::vector<ISipSpeakerPtr> ParkedSpeakers_;
};

class TSipClientEventHandler final : public ISipEventHandler {
public:
    explicit TSipClientEventHandler(std::shared_ptr<TSipClientEventTarget> target)
        : Target_(std::move(target)) {}

    void Invite(ISipCallPtr call) override;
    void Ringback(ISipCallPtr call) override;
    void Silence(ISipCallPtr call) override;
    void Dtmf(ISipCallPtr call, char digit) override;
    void InviteOk(ISipCallPtr call) override;
    void Bye(ISipCallPtr call) override;
    void WavStopped(ISipCallPtr call) override;
    void RegistrationOk(ISipAccountPtr account) override;
    void RegistrationBye(ISipAccountPtr account) override;
    void Log(const std::string& text) override;
    void MessageReceived(ISipAccountPtr account, const std::string& from,
                         const std::string& text) override;
    void MessageStatus(ISipAccountPtr account, const std::string& target, int status) override;
    void TransferStatus(ISipCallPtr call, int status) override;
    void TransferRequest(ISipCallPtr call, const std::string& target) override;
    // Synchronous, on the thread that starts or stops the call's media.
    void CreateAudioDevices(ISipCallPtr call) override;
    void ReleaseAudioDevices(ISipCallPtr call) override;

private:
    // Tells the component that a call's sound card went away or came back.
    std::function<void(bool)> DeviceListener(const ISipCallPtr& call);

    const std::shared_ptr<TSipClientEventTarget> Target_;
};
