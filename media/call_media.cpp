// Start and stop of a call's media: the sink's audio devices and the RTP
// socket, and the entry points of the RTP paths.
#include "media/call.h"
#include "sip/transport.h"

#include <algorithm>
#include <utility>

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
    DetachFromLoop();
    std::vector<int> fds;
    if (PortTaken_) {
        std::lock_guard<std::mutex> drain(DrainLock_);
        std::lock_guard<std::mutex> guard(SocketLock_);
        Sockets_->DiscardWaiting();
        fds = Sockets_->Fds();
    } else {
        // A restart without a stop must free the port first.
        StopSocket();
        std::unique_ptr<media::TMediaSockets> sockets;
        try {
            sockets = std::make_unique<media::TMediaSockets>(static_cast<uint16_t>(LocalRtpPort_.load()),
                                                             MediaPath_ != nullptr);
        } catch (...) {
            // Without a socket there is no media: give the devices back at once.
            if (EventSink_)
                EventSink_->ReleaseAudioDevices(shared_from_this());
            throw;
        }
        fds = sockets->Fds();
        std::lock_guard<std::mutex> drain(DrainLock_);
        std::lock_guard<std::mutex> guard(SocketLock_);
        Sockets_ = std::move(sockets);
    }
    SentPackets_ = 0;
    SentOctets_ = 0;
    ControlDue_ = TClock::now() + ReportInterval_;
    MediaStartTick_ = Clock_.tick();
    if (MediaPath_)
        MediaPath_->Start(*this);
    // Silence is measured from the start of media, not from tick 0, so a
    // silent line is not reported on its first received frame.
    LastSoundTime_ = Clock_.tick();
    MediaActive_ = true;

    std::lock_guard<std::mutex> guard(LoopLock_);
    if (!SharedLoop_ && !OwnLoop_)
        OwnLoop_ = std::make_shared<media::TMediaLoop>();
    ActiveLoop_ = SharedLoop_ ? SharedLoop_ : OwnLoop_;
    // The loop reaches the call through its client face, sharing the call's
    // count (the base is private: nobody else runs the call's media).
    const std::shared_ptr<TCall> self = shared_from_this();
    const std::shared_ptr<media::IMediaClient> client(self, static_cast<media::IMediaClient*>(self.get()));
    LoopId_ = ActiveLoop_->Add(client, fds);
}

void TCall::StopMedia(bool notifySink) {
    MediaActive_ = false;
    DetachFromLoop();
    if (!PortTaken_)
        StopSocket();
    if (MediaPath_)
        MediaPath_->Stop(*this);
    SpeakerMix_.Clear();  // a notice for this call's media ends with it
    if (notifySink && EventSink_)
        EventSink_->ReleaseAudioDevices(shared_from_this());
}

void TCall::DetachFromLoop() {
    std::shared_ptr<media::TMediaLoop> loop;
    media::TMediaLoop::TClientId id = 0;
    {
        std::lock_guard<std::mutex> guard(LoopLock_);
        loop = std::move(ActiveLoop_);
        id = std::exchange(LoopId_, 0);
    }
    // Outside the lock: a run in progress may ask for its next run.
    if (loop)
        loop->Remove(id);
}

void TCall::RunMediaWithin(double ms) {
    std::shared_ptr<media::TMediaLoop> loop;
    media::TMediaLoop::TClientId id = 0;
    {
        std::lock_guard<std::mutex> guard(LoopLock_);
        loop = ActiveLoop_;
        id = LoopId_;
    }
    if (loop)
        loop->RunBy(id, TClock::now() + std::chrono::duration_cast<TClock::duration>(
                                            std::chrono::duration<double, std::milli>(std::max(ms, 0.0))));
}

TCall::TClock::time_point TCall::ServiceMedia(TClock::time_point now) {
    double waitMs = ICallMediaPath::kIdleMs;
    if (MediaPath_)
        waitMs = std::clamp(MediaPath_->Service(*this), ICallMediaPath::kShortestWaitMs, ICallMediaPath::kIdleMs);
    TClock::time_point next =
        now + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double, std::milli>(waitMs));
    bool control = false;
    {
        std::lock_guard<std::mutex> guard(SocketLock_);
        control = Sockets_ && Sockets_->HasControl();
    }
    if (!control || !MediaPath_)
        return next;
    if (now >= ControlDue_) {
        // Fixed rate, but a long stall does not cause a burst of reports.
        ControlDue_ += ReportInterval_;
        if (ControlDue_ <= now)
            ControlDue_ = now + ReportInterval_;
        SendControlReport();
    }
    return std::min(next, ControlDue_);
}

void TCall::SendControlReport() {
    const std::vector<uint8_t> report = MediaPath_->ComposeControl(*this);
    if (report.empty())
        return;
    media::TSrtpBuffer wire;
    const std::span<const uint8_t> packet = Srtp_.ProtectRtcp(report, wire);  // SRTCP once keyed
    if (packet.empty())
        return;
    const int rtpPort = RemoteRtpPort_.load();
    std::string host;
    uint16_t port = 0;
    if (rtpPort <= 0 || rtpPort >= 65535 || !MediaTarget(ControlFilter_, rtpPort + 1, host, port))
        return;
    std::lock_guard<std::mutex> guard(SocketLock_);
    if (Sockets_ && Sockets_->HasControl())
        Sockets_->SendControl(host, port, packet.data(), packet.size());
}

void TCall::SetLocalRtpPort(int value) {
    if (value != LocalRtpPort_.load())
        ReleaseLocalRtpPort();
    LocalRtpPort_ = value;
}

void TCall::TakeLocalRtpPort(int port) {
    auto sockets = std::make_unique<media::TMediaSockets>(static_cast<uint16_t>(port), MediaPath_ != nullptr);
    // Media running on the old port stops where it is: the caller restarts it.
    if (MediaActive_)
        StopMedia(true);
    std::lock_guard<std::mutex> drain(DrainLock_);
    std::lock_guard<std::mutex> guard(SocketLock_);
    Sockets_ = std::move(sockets);
    LocalRtpPort_ = port;
    PortTaken_ = true;
}

bool TCall::ReleaseLocalRtpPort() {
    if (!PortTaken_.exchange(false))
        return false;
    if (MediaActive_)
        StopMedia(true);
    StopSocket();
    return true;
}

void TCall::StopSocket() {
    std::unique_ptr<media::TMediaSockets> sockets;
    std::lock_guard<std::mutex> drain(DrainLock_);
    std::lock_guard<std::mutex> guard(SocketLock_);
    sockets = std::move(Sockets_);
}

namespace {

// The call whose sockets this thread is draining, if any.
thread_local const TCall* tDraining = nullptr;

class TDrainingMark {
public:
    explicit TDrainingMark(const TCall* call) : Outer_(std::exchange(tDraining, call)) {}
    ~TDrainingMark() { tDraining = Outer_; }
    TDrainingMark(const TDrainingMark&) = delete;
    TDrainingMark& operator=(const TDrainingMark&) = delete;

private:
    const TCall* const Outer_;
};

}  // namespace

bool TCall::DrainingHere() const {
    return tDraining == this;
}

void TCall::DrainMedia() {
    std::lock_guard<std::mutex> drain(DrainLock_);
    if (!Sockets_)
        return;
    const TDrainingMark mark(this);
    Sockets_->DrainRtp([this](const std::string& address, uint16_t port, const uint8_t* data, std::size_t length) {
        OnRtpDatagram(address, port, data, length);
    });
    Sockets_->DrainControl([this](const std::string& address, uint16_t port, const uint8_t* data,
                                  std::size_t length) { OnControlDatagram(address, port, data, length); });
}

uint32_t TCall::GetWireSsrc() const {
    // The send path writes the SSRC's bytes lowest first.
    return (Ssrc_ & 0xFF) << 24 | (Ssrc_ & 0xFF00) << 8 | (Ssrc_ >> 8 & 0xFF00) | Ssrc_ >> 24;
}

bool TCall::SendRtp(const uint8_t* data, std::size_t length) {
    std::string host;
    uint16_t port = 0;
    if (!MediaTarget(RtpFilter_, RemoteRtpPort_.load(), host, port))
        return false;
    std::lock_guard<std::mutex> guard(SocketLock_);
    if (!Sockets_)
        return false;
    media::TSrtpBuffer wire;
    const auto out = Srtp_.ProtectRtp({data, length}, wire);  // SRTP once keyed, nothing while awaited
    if (out.datagram.empty())
        return out.indexUsed;
    if (length >= 12) {
        ++SentPackets_;
        SentOctets_ += static_cast<uint32_t>(length - 12);
        LastSentTimestamp_ = static_cast<uint32_t>(data[4]) << 24 | static_cast<uint32_t>(data[5]) << 16 |
                             static_cast<uint32_t>(data[6]) << 8 | data[7];
    }
    return Sockets_->SendRtp(host, port, out.datagram.data(), out.datagram.size()) || out.indexUsed;
}

void TCall::SendAudioFrame(const int16_t* pcm) {
    if (MediaPath_)
        MediaPath_->SendFrame(*this, pcm);
}

// Runs inside DrainMedia, under the drain lock, on the media loop or on a
// speaker's thread that asks for its frame; the call removes itself from the
// loop and takes the sockets away under that lock before it goes. Only the peer's
// packets, in a codec both sides agreed on, reach the RTP path: anybody else
// could otherwise talk into the call or switch its codec.
void TCall::OnRtpDatagram(const std::string& address, uint16_t port, const uint8_t* wire,
                          std::size_t wireLength) {
    // Checked before anything learns from it: a forged packet must not
    // become the latched source. Its header is readable either way.
    media::TSrtpBuffer plain;
    const auto packet = Srtp_.UnprotectRtp({wire, wireLength}, plain);
    if (!packet)
        return;
    const uint8_t* data = packet->data();
    const std::size_t length = packet->size();
    // The payload type first: a stranger's packet in a type nobody agreed on
    // must not become the first source.
    if (length >= 2) {
        const IAudioCodecPtr codec = GetCodec();
        if (!RtpFilter_.AcceptPayloadType(data[1] & 0x7F, GetNegotiatedPayloadTypes(),
                                          codec ? codec->GetPayloadType() : -1,
                                          GetTelephoneEventTypes())) {
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

// Runs inside DrainMedia like the RTP handler. Reports are
// taken by the same rule as RTP, one port above the peer's RTP port: a
// stranger's report would otherwise change the call's quality figures and
// round-trip time.
void TCall::OnControlDatagram(const std::string& address, uint16_t port, const uint8_t* wire,
                              std::size_t wireLength) {
    media::TSrtpBuffer plain;
    const auto packet = Srtp_.UnprotectRtcp({wire, wireLength}, plain);
    if (!packet)
        return;
    const uint8_t* data = packet->data();
    const std::size_t length = packet->size();
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
