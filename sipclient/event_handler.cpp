#include "sipclient/event_handler.h"

#include <QMetaObject>

#include <utility>

#include "sipclient/log_message.h"

// ---------------------------------------------------------------------------
// TSipClientEventTarget
// ---------------------------------------------------------------------------

void TSipClientEventTarget::Post(std::function<void(TSipClient&)> dispatch) {
    std::lock_guard guard(Lock_);
    if (Client_)
        PostLocked(std::move(dispatch));
}

void TSipClientEventTarget::PostLocked(std::function<void(TSipClient&)> dispatch) {
    TSipClient* client = Client_;
    // The functor, and with it the reference it carries, lives in the queued
    // event: it is released after the dispatch, or when the component is
    // destroyed with the event still queued.
    QMetaObject::invokeMethod(
        client, [client, dispatch = std::move(dispatch)] { dispatch(*client); },
        Qt::QueuedConnection);
}

void TSipClientEventTarget::Detach() {
    std::lock_guard guard(Lock_);
    Client_ = nullptr;
}

void TSipClientEventTarget::Finish(ISipMicrophonePtr microphone, ISipSpeakerPtr speaker) {
    std::lock_guard guard(Lock_);
    if (microphone)
        ParkedMicrophones_.push_back(std::move(microphone));
    if (speaker)
        ParkedSpeakers_.push_back(std::move(speaker));
    // The posted functor holds no device: once the component has run it,
    // the last reference to the functor may go on this very thread, under
    // the call's lock. The component owns this target, and its queued
    // events go with it.
    if (Client_)
        PostLocked([this](TSipClient&) { ReleaseParked(); });
}

void TSipClientEventTarget::ReleaseParked() {
    std::vector<ISipMicrophonePtr> microphones;
    std::vector<ISipSpeakerPtr> speakers;
    {
        std::lock_guard guard(Lock_);
        microphones.swap(ParkedMicrophones_);
        speakers.swap(ParkedSpeakers_);
    }
    // Dropped here, outside the lock: each joins its device thread.
}

void TSipClientEventTarget::SetDevices(TAudioDeviceFactory factory) {
    std::lock_guard guard(Lock_);
    Devices_ = std::move(factory);
}

TAudioDeviceFactory TSipClientEventTarget::GetDevices() {
    std::lock_guard guard(Lock_);
    return Devices_;
}

// ---------------------------------------------------------------------------
// Queued notifications
// ---------------------------------------------------------------------------

void TSipClientEventHandler::Invite(ISipCallPtr call) {
    Target_->Post([call](TSipClient& client) { client.DispatchInvite(call); });
}

void TSipClientEventHandler::Ringback(ISipCallPtr call) {
    Target_->Post([call](TSipClient& client) { client.DispatchRingback(call); });
}

void TSipClientEventHandler::Silence(ISipCallPtr call) {
    Target_->Post([call](TSipClient& client) {
        client.Guarded([&] { emit client.OnSilence(&client, call); });
    });
}

void TSipClientEventHandler::Dtmf(ISipCallPtr call, char digit) {
    Target_->Post([call, digit](TSipClient& client) {
        const QString text(QChar::fromLatin1(digit));
        client.Guarded([&] { emit client.OnDtmf(&client, call, text); });
    });
}

void TSipClientEventHandler::InviteOk(ISipCallPtr call) {
    Target_->Post([call](TSipClient& client) {
        client.Guarded([&] { emit client.OnInviteOk(&client, call); });
    });
}

void TSipClientEventHandler::Bye(ISipCallPtr call) {
    Target_->Post([call](TSipClient& client) { client.DispatchBye(call); });
}

void TSipClientEventHandler::WavStopped(ISipCallPtr call) {
    Target_->Post([call](TSipClient& client) {
        client.Guarded([&] { emit client.OnWavStopped(&client, call); });
    });
}

void TSipClientEventHandler::RegistrationOk(ISipAccountPtr account) {
    Target_->Post([account](TSipClient& client) {
        client.Guarded([&] { emit client.OnRegistrationOk(&client, account); });
    });
}

void TSipClientEventHandler::RegistrationBye(ISipAccountPtr account) {
    Target_->Post([account](TSipClient& client) {
        client.Guarded([&] { emit client.OnRegistrationBye(&client, account); });
    });
}

void TSipClientEventHandler::Log(const std::string& text) {
    ILogMessagePtr message = std::make_shared<TLogMessage>(text);
    Target_->Post([message](TSipClient& client) { client.DispatchLog(message->GetText()); });
}

void TSipClientEventHandler::MessageReceived(ISipAccountPtr account, const std::string& from,
                                             const std::string& text) {
    Target_->Post([account, from = QString::fromStdString(from),
                   text = QString::fromStdString(text)](TSipClient& client) {
        client.Guarded([&] { emit client.OnMessage(&client, account, from, text); });
    });
}

void TSipClientEventHandler::MessageStatus(ISipAccountPtr account, const std::string& target,
                                           int status) {
    Target_->Post([account, target = QString::fromStdString(target), status](TSipClient& client) {
        client.Guarded([&] { emit client.OnMessageStatus(&client, account, target, status); });
    });
}

void TSipClientEventHandler::TransferStatus(ISipCallPtr call, int status) {
    Target_->Post([call, status](TSipClient& client) {
        client.Guarded([&] { emit client.OnTransferStatus(&client, call, status); });
    });
}

void TSipClientEventHandler::TransferRequest(ISipCallPtr call, const std::string& target) {
    Target_->Post([call, target = QString::fromStdString(target)](TSipClient& client) {
        client.Guarded([&] { emit client.OnTransferRequest(&client, call, target); });
    });
}

// ---------------------------------------------------------------------------
// Audio devices, synchronous
// ---------------------------------------------------------------------------

// Weak, and taken only on the component's thread: the call owns its devices,
// and a device's own thread must never drop the last reference to the call
// that owns it.
std::function<void(bool)> TSipClientEventHandler::DeviceListener(const ISipCallPtr& call) {
    return [target = Target_, weak = std::weak_ptr<ISipCall>(call)](bool present) {
        target->Post([weak, present](TSipClient& client) {
            if (const ISipCallPtr owner = weak.lock())
                client.Guarded([&] { emit client.OnAudioDevice(&client, owner, present); });
        });
    };
}

void TSipClientEventHandler::CreateAudioDevices(ISipCallPtr call) {
    const TAudioDeviceFactory devices = Target_->GetDevices();
    if (devices.speaker) {
        ISipSpeakerPtr speaker = devices.speaker(*call);
        if (speaker) {
            // Weak, and taken only on the component's thread: the call owns
            // the speaker, and the speaker's own thread must never drop the
            // last reference to the call that owns it.
            speaker->SetDeviceListener(DeviceListener(call));
        }
        call->SetSpeaker(speaker);
    }
    if (devices.microphone) {
        ISipMicrophonePtr microphone = devices.microphone(*call);
        call->SetMicrophone(microphone);
        if (microphone) {
            microphone->SetDeviceListener(DeviceListener(call));
            microphone->SetCall(call);
        }
    }
}

void TSipClientEventHandler::ReleaseAudioDevices(ISipCallPtr call) {
    ISipMicrophonePtr microphone = call->GetMicrophone();
    if (microphone) {
        microphone->SetCall(nullptr);
        call->SetMicrophone(nullptr);
    }
    ISipSpeakerPtr speaker = call->GetSpeaker();
    call->SetSpeaker(nullptr);
    // Dropping the last reference to a device joins its thread. The engine
    // calls this with the call's lock held, and a capture thread may be
    // waiting for that lock inside the call's send path, so the devices are
    // finished where no call lock is held.
    if (microphone || speaker)
        Target_->Finish(std::move(microphone), std::move(speaker));
}
