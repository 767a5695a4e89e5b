// Start and stop of a call's media: the sink's audio devices and the RTP
// socket, and the entry points of the RTP paths.
#include "media/call.h"
#include "sip/transport.h"

void TCall::SetMediaActive(bool on) {
    if (on)
        StartMedia();
    else
        StopMedia(true);
}

void TCall::StartMedia() {
    // The sink's devices exist before the socket can deliver the first frame.
    if (EventSink_)
        EventSink_->CreateAudioDevices(shared_from_this());
    StopSocket();  // a restart without a stop must free the port first
    std::unique_ptr<TUdpSocket> socket;
    try {
        socket = std::make_unique<TUdpSocket>(
            static_cast<uint16_t>(LocalRtpPort_.load()), nullptr,
            [this](const std::string& address, uint16_t port, const uint8_t* buffer,
                   std::size_t length) { OnRtpDatagram(address, port, buffer, length); });
    } catch (...) {
        // Without a socket there is no media: give the devices back at once.
        if (EventSink_)
            EventSink_->ReleaseAudioDevices(shared_from_this());
        throw;
    }
    {
        std::lock_guard<std::mutex> guard(SocketLock_);
        RtpSocket_ = std::move(socket);
    }
    SentPackets_ = 0;
    SentOctets_ = 0;
    MediaStartTick_ = Clock_.tick();
    StartControl();
    if (MediaPath_)
        MediaPath_->Start(*this);
    // Silence is measured from the start of media, not from tick 0, so a
    // silent line is not reported on its first received frame.
    LastSoundTime_ = Clock_.tick();
    MediaActive_ = true;
}

void TCall::StopMedia(bool notifySink) {
    MediaActive_ = false;
    StopSocket();
    if (MediaPath_)
        MediaPath_->Stop(*this);
    SpeakerMix_.Clear();  // a notice for this call's media ends with it
    if (notifySink && EventSink_)
        EventSink_->ReleaseAudioDevices(shared_from_this());
}

void TCall::StartControl() {
    // The RTP port + 1 carries the control reports. Taken by someone else,
    // the call goes on without them.
    const int port = LocalRtpPort_.load();
    if (!MediaPath_ || port <= 0 || port >= 65535)
        return;
    std::unique_ptr<TUdpSocket> socket;
    try {
        socket = std::make_unique<TUdpSocket>(
            static_cast<uint16_t>(port + 1), [this] { SendControlReport(); },
            [this](const std::string& address, uint16_t from, const uint8_t* buffer,
                   std::size_t length) { OnControlDatagram(address, from, buffer, length); },
            ReportInterval_);
    } catch (const std::exception&) {
        return;
    }
    std::lock_guard<std::mutex> guard(SocketLock_);
    ControlSocket_ = std::move(socket);
}

void TCall::SendControlReport() {
    const std::vector<uint8_t> report = MediaPath_->ComposeControl(*this);
    if (report.empty())
        return;
    const std::string host = GetRemoteRtpHost();
    const int port = RemoteRtpPort_.load();
    std::lock_guard<std::mutex> guard(SocketLock_);
    if (ControlSocket_ && port > 0 && port < 65535)
        ControlSocket_->Send(host, static_cast<uint16_t>(port + 1), report.data(), report.size());
}

void TCall::StopSocket() {
    std::unique_ptr<TUdpSocket> socket, control;
    {
        std::lock_guard<std::mutex> guard(SocketLock_);
        socket = std::move(RtpSocket_);
        control = std::move(ControlSocket_);
    }
    // Joined outside the socket lock: the receive thread may be inside a
    // handler that sends, which takes that lock.
    socket.reset();
    control.reset();
}

uint32_t TCall::GetWireSsrc() const {
    // The send path writes the SSRC's bytes lowest first.
    return (Ssrc_ & 0xFF) << 24 | (Ssrc_ & 0xFF00) << 8 | (Ssrc_ >> 8 & 0xFF00) | Ssrc_ >> 24;
}

bool TCall::SendRtp(const uint8_t* data, std::size_t length) {
    const std::string host = GetRemoteRtpHost();
    const auto port = static_cast<uint16_t>(RemoteRtpPort_.load());
    std::lock_guard<std::mutex> guard(SocketLock_);
    if (!RtpSocket_)
        return false;
    if (length >= 12) {
        ++SentPackets_;
        SentOctets_ += static_cast<uint32_t>(length - 12);
        LastSentTimestamp_ = static_cast<uint32_t>(data[4]) << 24 | static_cast<uint32_t>(data[5]) << 16 |
                             static_cast<uint32_t>(data[6]) << 8 | data[7];
    }
    return RtpSocket_->Send(host, port, data, length);
}

void TCall::SendAudioFrame(const int16_t* pcm) {
    if (MediaPath_)
        MediaPath_->SendFrame(*this, pcm);
}

// Runs on the RTP socket's thread, which the socket's owner (this call) joins
// before it goes away, so `this` outlives every invocation. Only the peer's
// packets, in a codec both sides agreed on, reach the RTP path: anybody else
// could otherwise talk into the call or switch its codec.
void TCall::OnRtpDatagram(const std::string& address, uint16_t port, const uint8_t* data,
                          std::size_t length) {
    // The payload type first: a stranger's packet in a type nobody agreed on
    // must not become the first source.
    if (length >= 2) {
        const IAudioCodecPtr codec = GetCodec();
        if (!RtpFilter_.AcceptPayloadType(data[1] & 0x7F, GetNegotiatedPayloadTypes(),
                                          codec ? codec->GetPayloadType() : -1)) {
            return;
        }
    }
    if (!RtpFilter_.AcceptSource(address, port, GetRemoteRtpHost(), RemoteRtpPort_.load(),
                                 std::chrono::steady_clock::now())) {
        return;
    }
    ++MediaReceived_;
    if (MediaPath_)
        MediaPath_->ReceiveDatagram(*this, data, length);
}

// Runs on the control socket's thread, joined like the RTP one. Reports are
// taken by the same rule as RTP, one port above the peer's RTP port: a
// stranger's report would otherwise change the call's quality figures and
// round-trip time.
void TCall::OnControlDatagram(const std::string& address, uint16_t port, const uint8_t* data,
                              std::size_t length) {
    const int rtpPort = RemoteRtpPort_.load();
    if (!ControlFilter_.AcceptSource(address, port, GetRemoteRtpHost(), rtpPort > 0 ? rtpPort + 1 : 0,
                                     std::chrono::steady_clock::now())) {
        return;
    }
    ++MediaReceived_;
    if (MediaPath_)
        MediaPath_->ReceiveControl(*this, data, length);
}

media::TCallQuality TCall::GetQuality() const {
    media::TCallQuality quality;
    {
        std::lock_guard<std::mutex> guard(QualityLock_);
        quality = Quality_;
    }
    quality.sendKbps = media::WireKbps(SentPackets_, SentOctets_, Clock_.tick() - MediaStartTick_);
    return quality;
}

void TCall::SetQuality(const media::TCallQuality& value) {
    std::lock_guard<std::mutex> guard(QualityLock_);
    Quality_ = value;
}
