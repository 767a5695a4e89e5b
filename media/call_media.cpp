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
    // Silence is measured from the start of media, not from tick 0, so a
    // silent line is not reported on its first received frame.
    LastSoundTime_ = Clock_.tick();
    MediaActive_ = true;
}

void TCall::StopMedia(bool notifySink) {
    MediaActive_ = false;
    StopSocket();
    if (notifySink && EventSink_)
        EventSink_->ReleaseAudioDevices(shared_from_this());
}

void TCall::StopSocket() {
    std::unique_ptr<TUdpSocket> socket;
    {
        std::lock_guard<std::mutex> guard(SocketLock_);
        socket = std::move(RtpSocket_);
    }
    // Joined outside the socket lock: the receive thread may be inside a
    // handler that sends, which takes that lock.
    socket.reset();
}

bool TCall::SendRtp(const uint8_t* data, std::size_t length) {
    const std::string host = GetRemoteRtpHost();
    const auto port = static_cast<uint16_t>(RemoteRtpPort_.load());
    std::lock_guard<std::mutex> guard(SocketLock_);
    if (!RtpSocket_)
        return false;
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
    if (!RtpFilter_.AcceptSource(address, port, GetRemoteRtpHost(), RemoteRtpPort_.load(),
                                 std::chrono::steady_clock::now())) {
        return;
    }
    if (length >= 2) {
        const IAudioCodecPtr codec = GetCodec();
        if (!RtpFilter_.AcceptPayloadType(data[1] & 0x7F, GetNegotiatedPayloadTypes(),
                                          codec ? codec->GetPayloadType() : -1)) {
            return;
        }
    }
    if (MediaPath_)
        MediaPath_->ReceiveDatagram(*this, data, length);
}
