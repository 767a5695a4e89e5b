#include "sipclient/sipclient.h"

#include <stdexcept>
#include <utility>

#include "media/call.h"
#include "media/keypad_tones.h"
#include "media/wav.h"
#include "sip/header_values.h"
#include "sipclient/audio_devices.h"
#include "sipclient/event_handler.h"

TSipClient::TSipClient(QObject* parent)
    : QObject(parent),
      Target_(std::make_shared<TSipClientEventTarget>(this)),
      EngineFactory_([](uint16_t port) { return CreateSipEngine(port); }) {
    Target_->SetDevices(DefaultAudioDeviceFactory());
}

TSipClient::~TSipClient() {
    // No notification may reach this object once destruction has begun;
    // those still queued are discarded by QObject with their references.
    Target_->Detach();
    if (Engine_) {
        try {
            if (Engine_->GetActive())
                Engine_->SetActive(false);
        } catch (...) {
            // A destructor must not throw; the engine's own destructor
            // finishes switching off.
        }
        Engine_.reset();
    }
    // Devices the calls gave back while the engine switched off; no call
    // lock is held here, so their threads can finish.
    Target_->ReleaseParked();
}

void TSipClient::SetSilenceThreshold(int value) {
    SilenceThreshold_ = value;
    if (Engine_)
        Engine_->SetSilenceThreshold(value);
}

void TSipClient::SetSilenceTimeout(int value) {
    SilenceTimeout_ = value;
    if (Engine_)
        Engine_->SetSilenceTimeout(value);
}

void TSipClient::SetCallsFromServerOnly(bool value) {
    CallsFromServerOnly_ = value;
    if (Engine_)
        Engine_->SetCallsFromServerOnly(value);
}

void TSipClient::SetMediaTimeout(int seconds) {
    MediaTimeout_ = seconds;
    if (Engine_)
        Engine_->SetMediaTimeout(seconds);
}

void TSipClient::SetCodecs(const std::vector<int>& payloadTypes) {
    Codecs_ = payloadTypes;
    if (Engine_ && !Codecs_.empty())
        Engine_->SetCodecs(Codecs_);
}

bool TSipClient::EndedByMediaTimeout(const ISipCallPtr& call) {
    return call && call->GetState() == csIdle && call->GetStatusText() == kMediaTimeoutStatus;
}

void TSipClient::SetActive(bool value) {
    Active_ = value;
    if (Engine_) {
        // Activating twice builds a fresh engine; the old one goes off first
        // so that it frees the signalling port.
        ISipEnginePtr old = std::move(Engine_);
        old->SetActive(false);
    }
    if (!value)
        return;
    Engine_ = EngineFactory_(static_cast<uint16_t>(LocalPort_));
    Engine_->SetEventHandler(std::make_shared<TSipClientEventHandler>(Target_));
    Engine_->SetSilenceThreshold(SilenceThreshold_);
    Engine_->SetSilenceTimeout(SilenceTimeout_);
    Engine_->SetCallsFromServerOnly(CallsFromServerOnly_);
    Engine_->SetMediaTimeout(MediaTimeout_);
    if (!Codecs_.empty())
        Engine_->SetCodecs(Codecs_);
    Engine_->SetRtpPortMin(RtpPortMin_);
    Engine_->SetRtpPortMax(RtpPortMax_);
    Engine_->SetTlsCertificate(TlsCertificateFile_, TlsKeyFile_);
    Engine_->SetActive(true);
}

void TSipClient::SetEngineFactory(TEngineFactory factory) { EngineFactory_ = std::move(factory); }

void TSipClient::SetAudioDeviceFactory(TAudioDeviceFactory factory) {
    Target_->SetDevices(std::move(factory));
}

ISipEngine& TSipClient::RequireEngine() const {
    if (!Engine_)
        throw std::runtime_error("not active");
    return *Engine_;
}

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

ISipAccountPtr TSipClient::AddAccount(const std::string& server, const std::string& userName,
                                      const std::string& password, const std::string& proxy,
                                      const std::string& stunServer) {
    // Each of these ends up in a header line or a name lookup; the password
    // only enters the digest.
    sip_header::RequireNoControl(server, "the server");
    sip_header::RequireNoControl(userName, "the user name");
    sip_header::RequireNoControl(proxy, "the proxy");
    sip_header::RequireNoControl(stunServer, "the STUN server");
    return RequireEngine().AddAccount(stunServer, server, userName, password, proxy);
}

void TSipClient::RegisterAccount(ISipAccountPtr account) {
    ISipEngine& engine = RequireEngine();
    account->SetRegTime(SystemCallClock().now());
    engine.Register(std::move(account));
}

void TSipClient::UnregisterAccount(ISipAccountPtr account) {
    RequireEngine().Unregister(std::move(account));
}

ISipCallPtr TSipClient::MakeCall(ISipAccountPtr account, const std::string& number,
                                 int waveInDevice, int waveOutDevice) {
    sip_header::RequireDialTarget(number);
    return RequireEngine().MakeCall(std::move(account), number, waveInDevice, waveOutDevice);
}

void TSipClient::HangUp(ISipCallPtr call) { RequireEngine().HangUp(std::move(call)); }

void TSipClient::SendDtmf(ISipCallPtr call, const std::string& digit) {
    const char key = digit.empty() ? '\0' : digit[0];
    switch (DtmfMethod_) {
    case dtmfRFC2833:
        RequireEngine().SendDtmfRfc2833(std::move(call), digit);
        return;
    case dtmfSipInfo:
        // The digit stands alone on a line of the INFO body.
        if (sip_header::IsControl(key))
            throw std::invalid_argument("the digit must be a visible character");
        RequireEngine().SendDtmfInfo(std::move(call), key);
        return;
    case dtmfInBand:
        break;
    default:
        return;
    }
    const int item = media::KeypadToneItem(key);
    if (item == 0)
        return;
    IWavFilePtr tone;
    {
        std::lock_guard guard(ToneLock_);
        tone = std::make_shared<media::TWavStream>(media::KeypadToneWav(item));
    }
    tone->SetPosition(0);
    call->PlayWav(std::move(tone));
}

void TSipClient::Answer(ISipCallPtr call) { RequireEngine().Answer(std::move(call)); }
void TSipClient::Reject(ISipCallPtr call) { RequireEngine().Reject(std::move(call)); }
void TSipClient::Hold(ISipCallPtr call) { RequireEngine().Hold(std::move(call)); }
void TSipClient::Resume(ISipCallPtr call) { RequireEngine().Resume(std::move(call)); }

void TSipClient::Transfer(ISipCallPtr call, const std::string& target) {
    sip_header::RequireDialTarget(target);
    RequireEngine().Transfer(std::move(call), target);
}

void TSipClient::AcceptTransfer(ISipCallPtr call) { RequireEngine().AcceptTransfer(std::move(call)); }
void TSipClient::RefuseTransfer(ISipCallPtr call) { RequireEngine().RefuseTransfer(std::move(call)); }

media::TCallQuality TSipClient::GetCallQuality(const ISipCallPtr& call) {
    if (const auto media = std::dynamic_pointer_cast<TCall>(call))
        return media->GetQuality();
    return {};
}

void TSipClient::PlayWavFile(ISipCallPtr call, const std::string& fileName) {
    RequireEngine().PlayWavFile(std::move(call), fileName);
}

bool TSipClient::PlayWavFileToSpeaker(ISipCallPtr call, const std::string& fileName) {
    return RequireEngine().PlayWavFileToSpeaker(std::move(call), fileName);
}

void TSipClient::SpeakText(ISipCallPtr call, const std::string& text, int voiceIndex) {
    RequireEngine().SpeakText(std::move(call), text, voiceIndex);
}

void TSipClient::SendMessage(ISipAccountPtr account, const std::string& destination,
                             const std::string& text) {
    sip_header::RequireDialTarget(destination);
    RequireEngine().SendMessage(std::move(account), destination, text);
}
