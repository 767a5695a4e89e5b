#include "media/rtp_session.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "media/call.h"
#include "media/codecs.h"
#include "media/dtmf_detector.h"
#include "media/silence_detector.h"
#include "media/telephone_event.h"

namespace media {

namespace {

constexpr std::size_t kPcmFrameBytes = 320;

uint32_t GetTimestamp(const uint8_t* packet) {
    return static_cast<uint32_t>(packet[4]) << 24 | static_cast<uint32_t>(packet[5]) << 16 |
           static_cast<uint32_t>(packet[6]) << 8 | packet[7];
}

bool IsSwitchablePayloadType(int payloadType) {
    return payloadType == 0 || payloadType == 3 || payloadType == 8;
}

}  // namespace

void TRtpMediaPath::SendFrame(TCall& call, const int16_t* pcm) {
    Sender_.SendFrame(call, pcm);
}

// Receive path ------------------------------------------------------------------

void TRtpMediaPath::ReceiveTelephoneEvent(TCall& call, const uint8_t* payload, std::size_t length) {
    const auto event = ReadTelephoneEvent(payload, length);
    if (!event)
        return;  // shorter than 4 bytes
    if (!event->end && !call.GetEventInProgress() && event->event <= 15)
        call.ReportDtmf(std::string(1, TKeypadToneDetector::kResultTable[event->event]));
    call.SetEventInProgress(!event->end);
}

void TRtpMediaPath::RunDetectors(TCall& call, const int16_t* pcm) {
    const char found = TKeypadToneDetector::Detect(pcm);
    const uint32_t now = call.Tick();
    std::string digits = call.GetInBandDigits();
    const std::string before = digits;
    if (found != 0) {
        digits += found;
        if (digits.size() > 2)
            digits.erase(0, digits.size() - 2);
    }
    if (digits.size() == 2) {
        if (now - call.GetLastDtmfTime() < kInBandRepeatMs) {
            digits.clear();
            call.SetLastDtmfTime(now);
        } else if (digits[0] == digits[1]) {
            call.ReportDtmf(std::string(1, digits[0]));
            call.SetLastDtmfTime(now);
            digits.clear();
        }
    }
    if (digits != before)
        call.SetInBandDigits(digits);
    if (digits.size() != 2)
        TSilenceDetector::OnFrame(call, TSilenceDetector::Rms(pcm, TKeypadToneDetector::kFrameSamples), now);
}

void TRtpMediaPath::PlayOut(TCall& call) {
    const ISipSpeakerPtr speaker = call.GetSpeaker();
    if (!speaker)
        return;
    int length = 0;
    while (speaker->CanPlay() && JitterBuffer_.Get(PlayBuffer_.data(), length)) {
        // Taps always read a whole frame: a short frame is padded with zeros.
        if (length < static_cast<int>(kPcmFrameBytes))
            std::memset(PlayBuffer_.data() + length, 0, kPcmFrameBytes - static_cast<std::size_t>(length));
        if (!call.GetSpeakerEnabled())
            std::memset(PlayBuffer_.data(), 0, PlayBuffer_.size());
        auto* pcm = reinterpret_cast<int16_t*>(PlayBuffer_.data());
        call.TapReceivedFrame(pcm);
        call.MixIntoSpeaker(pcm, length / 2);
        speaker->Play(PlayBuffer_.data(), length);
    }
}

void TRtpMediaPath::ReceiveDatagram(TCall& call, const uint8_t* data, std::size_t length) {
    if (length == 0)
        return;
    length = std::min(length, kMaxDatagram);
    if (length < kHeaderSize)
        return;  // no header to read
    const int payloadType = data[1] & 0x7F;
    if (payloadType == kTelephoneEventPayloadType) {
        if (Mode_ == TReceiveMode::Adaptive) {
            std::lock_guard<std::mutex> guard(ReceiveLock_);
            Statistics_.OnPacket(static_cast<uint16_t>(data[2] << 8 | data[3]), GetTimestamp(data),
                                 NowMs(call), false);
            SourceSsrc_ = static_cast<uint32_t>(data[8]) << 24 | static_cast<uint32_t>(data[9]) << 16 |
                          static_cast<uint32_t>(data[10]) << 8 | data[11];
        }
        ReceiveTelephoneEvent(call, data + kHeaderSize, length - kHeaderSize);
        return;
    }

    IAudioCodecPtr codec = call.GetCodec();
    if (IsSwitchablePayloadType(payloadType) && (!codec || codec->GetPayloadType() != payloadType)) {
        // From now on both directions use the peer's codec; the reference is
        // replaced under the call's lock, the send path holds its own copy.
        if (IAudioCodecPtr fresh = CodecRegistry().Create(payloadType)) {
            call.SetCodec(fresh);
            codec = std::move(fresh);
        }
    }
    if (!codec || codec->GetPayloadType() != payloadType)
        return;

    std::size_t payloadLength = length - kHeaderSize;
    if (data[0] & 0x20) {
        const std::size_t padding = data[length - 1];
        if (padding > payloadLength)
            return;  // a padding count beyond the payload: malformed
        payloadLength -= padding;
    }
    if (payloadLength == 0)
        return;
    payloadLength = std::min(payloadLength, static_cast<std::size_t>(kMaxDecodePayload));
    auto* pcm = reinterpret_cast<int16_t*>(Decoded_.data());
    int decoded = codec->Decode(data + kHeaderSize, pcm, static_cast<int>(payloadLength));
    decoded = std::clamp(decoded, 0, static_cast<int>(kDecodeBufferBytes));
    if (Mode_ == TReceiveMode::Adaptive) {
        ReceiveAdaptive(call, data, decoded);
        return;
    }
    const int32_t sequenceNumber = data[2] << 8 | data[3];
    JitterBuffer_.Put(Decoded_.data(), decoded, sequenceNumber);
    if (decoded >= static_cast<int>(kPcmFrameBytes))
        RunDetectors(call, pcm);
    PlayOut(call);
}

// Adaptive receive path ---------------------------------------------------------

TRtpMediaPath::~TRtpMediaPath() {
    std::unique_ptr<TPlayoutThread> thread;
    {
        std::lock_guard<std::mutex> guard(ThreadLock_);
        thread = std::move(Playout_);
    }
    thread.reset();
    DetachSpeaker();
}

bool TRtpMediaPath::AttachSpeaker(TCall& call, const ISipSpeakerPtr& speaker) {
    std::lock_guard<std::mutex> guard(AttachLock_);
    if (speaker.get() == AttachedRaw_ && !Attached_.expired())
        return Pulling_;
    if (const ISipSpeakerPtr previous = Attached_.lock())
        previous->SetFrameSource(nullptr);
    Attached_ = speaker;
    AttachedRaw_ = speaker.get();
    Pulling_ = speaker && speaker->SetFrameSource(
                              [this, &call](int16_t* pcm, int capacity) { return PullFrame(call, pcm, capacity); });
    return Pulling_;
}

void TRtpMediaPath::DetachSpeaker() {
    std::lock_guard<std::mutex> guard(AttachLock_);
    if (const ISipSpeakerPtr previous = Attached_.lock())
        previous->SetFrameSource(nullptr);
    Attached_.reset();
    AttachedRaw_ = nullptr;
    Pulling_ = false;
}

void TRtpMediaPath::Start(TCall& call) {
    if (Mode_ != TReceiveMode::Adaptive)
        return;
    auto thread = std::make_unique<TPlayoutThread>([this, &call] { return Service(call); });
    std::unique_ptr<TPlayoutThread> previous;
    {
        std::lock_guard<std::mutex> guard(ThreadLock_);
        previous = std::move(Playout_);
        Playout_ = std::move(thread);
    }
}

void TRtpMediaPath::Stop(TCall& call) {
    std::unique_ptr<TPlayoutThread> thread;
    {
        std::lock_guard<std::mutex> guard(ThreadLock_);
        thread = std::move(Playout_);
    }
    thread.reset();  // joined outside the lock: its service never takes it
    // The speaker stops asking before the call's media is gone.
    DetachSpeaker();
    if (Mode_ == TReceiveMode::Adaptive)
        call.SetQuality(Quality());
}

double TRtpMediaPath::NowMs(TCall& call) {
    const uint32_t tick = call.Tick();
    if (HasTick_)
        TickMs_ += static_cast<int32_t>(tick - LastTick_);  // right across the 2^32 wrap
    HasTick_ = true;
    LastTick_ = tick;
    return TickMs_;
}

void TRtpMediaPath::ReceiveAdaptive(TCall& call, const uint8_t* data, int decoded) {
    const auto sequenceNumber = static_cast<uint16_t>(data[2] << 8 | data[3]);
    {
        std::lock_guard<std::mutex> guard(ReceiveLock_);
        const double now = NowMs(call);
        Statistics_.OnPacket(sequenceNumber, GetTimestamp(data), now, true);
        Buffer_.Put(Decoded_.data(), decoded, sequenceNumber, now);
        PayloadType_ = data[1] & 0x7F;
        SourceSsrc_ = static_cast<uint32_t>(data[8]) << 24 | static_cast<uint32_t>(data[9]) << 16 |
                      static_cast<uint32_t>(data[10]) << 8 | data[11];
    }
    // Detectors hear the audio as it comes, concealment never reaches them.
    if (decoded >= static_cast<int>(kPcmFrameBytes))
        RunDetectors(call, reinterpret_cast<const int16_t*>(Decoded_.data()));
    const double next = Service(call);
    // A frame held back until its time: the clock must run for it sooner
    // than it planned.
    std::lock_guard<std::mutex> guard(ThreadLock_);
    if (Playout_)
        Playout_->WakeWithin(next);
}

double TRtpMediaPath::Service(TCall& call) {
    const ISipSpeakerPtr speaker = call.GetSpeaker();
    if (AttachSpeaker(call, speaker))
        return TPlayoutThread::kLongestWaitMs;  // the speaker's clock asks for frames
    std::lock_guard<std::mutex> guard(ReceiveLock_);
    const double now = NowMs(call);
    for (;;) {
        // While the device is behind, frames wait here rather than be lost;
        // it is asked again half a frame later.
        if (speaker && !speaker->CanPlay())
            return TAdaptiveJitterBuffer::kFrameMs / 2;
        int length = 0;
        const auto output = Buffer_.Get(now, OutBuffer_.data(), length);
        if (output == TAdaptiveJitterBuffer::TOutput::None)
            break;
        length = Render(call, output, length);
        if (speaker)
            speaker->Play(OutBuffer_.data(), length);
    }
    return Buffer_.NextEventMs() - now;
}

int TRtpMediaPath::PullFrame(TCall& call, int16_t* pcm, int capacity) {
    std::lock_guard<std::mutex> guard(ReceiveLock_);
    int length = 0;
    const auto output = Buffer_.Pull(NowMs(call), OutBuffer_.data(), length);
    if (output == TAdaptiveJitterBuffer::TOutput::None) {
        // Nothing from the far end (on hold, or a silent line): a sound of
        // the booth's own still plays.
        std::memset(OutBuffer_.data(), 0, kPcmFrameBytes);
        if (!call.MixIntoSpeaker(reinterpret_cast<int16_t*>(OutBuffer_.data()), kFrameSamples))
            return 0;
        length = static_cast<int>(kPcmFrameBytes);
    } else {
        length = Render(call, output, length);
    }
    const int count = std::min(length / 2, capacity);
    std::memcpy(pcm, OutBuffer_.data(), static_cast<std::size_t>(count) * 2);
    return count;
}

int TRtpMediaPath::Render(TCall& call, TAdaptiveJitterBuffer::TOutput output, int length) {
    auto* pcm = reinterpret_cast<int16_t*>(OutBuffer_.data());
    if (output == TAdaptiveJitterBuffer::TOutput::Frame) {
        if (length < static_cast<int>(kPcmFrameBytes)) {
            std::memset(OutBuffer_.data() + length, 0, kPcmFrameBytes - static_cast<std::size_t>(length));
            length = static_cast<int>(kPcmFrameBytes);
        }
        Concealer_.Good(pcm, length / 2);
    } else {
        length = static_cast<int>(kPcmFrameBytes);
        Concealer_.Fill(pcm, length / 2);
    }
    if (!call.GetSpeakerEnabled())
        std::memset(OutBuffer_.data(), 0, OutBuffer_.size());
    call.TapReceivedFrame(pcm);
    call.MixIntoSpeaker(pcm, length / 2);
    if (++Outputs_ % kPublishFrames == 0)
        call.SetQuality(QualityLocked());
    return length;
}

TCallQuality TRtpMediaPath::QualityLocked() {
    TCallQuality quality;
    const auto& counters = Buffer_.Counters();
    quality.received = Statistics_.Received();
    quality.lost = Statistics_.Lost();
    quality.duplicates = Statistics_.Duplicates();
    quality.late = counters.late;
    quality.concealed = counters.concealed;
    const int64_t expected = Statistics_.Expected();
    const int64_t missing = std::max<int64_t>(0, quality.lost) + quality.late;
    quality.lossPercent = expected > 0 ? 100.0 * static_cast<double>(missing) / static_cast<double>(expected) : 0;
    quality.meanBurst = Statistics_.MeanBurst();
    quality.jitterMs = Statistics_.JitterMs();
    quality.bufferDelayMs = Buffer_.DelayMs();
    quality.rttMs = RttMs_;
    quality.payloadType = PayloadType_;
    Estimate(quality);
    return quality;
}

void TRtpMediaPath::ReceiveControl(TCall& call, const uint8_t* data, std::size_t length) {
    const uint64_t arrival = NtpNow();
    const auto report = ParseRtcp(data, length, call.GetWireSsrc());
    if (!report)
        return;  // not a well-formed compound report: ignored
    std::lock_guard<std::mutex> guard(ReceiveLock_);
    if (report->senderNtp) {
        LastReportNtp_ = NtpMiddle(*report->senderNtp);
        LastReportArrival_ = arrival;
    }
    if (report->aboutUs) {
        if (const auto rtt = RoundTripMs(*report->aboutUs, arrival))
            RttMs_ = *rtt;
    }
}

std::vector<uint8_t> TRtpMediaPath::ComposeControl(TCall& call) {
    std::optional<TRtcpSenderInfo> sender;
    if (call.GetSentPackets() > 0)
        sender = TRtcpSenderInfo{NtpNow(), call.GetLastSentTimestamp(), call.GetSentPackets(), call.GetSentOctets()};
    std::optional<TRtcpReportBlock> block;
    {
        std::lock_guard<std::mutex> guard(ReceiveLock_);
        if (Statistics_.Received() > 0) {
            TRtcpReportBlock about;
            about.ssrc = SourceSsrc_;
            about.fractionLost = Statistics_.TakeFractionLost();
            about.cumulativeLost = static_cast<int32_t>(std::clamp<int64_t>(Statistics_.Lost(), -0x800000, 0x7FFFFF));
            about.highestSequence = Statistics_.ExtendedHighest();
            about.jitter = static_cast<uint32_t>(Statistics_.JitterUnits());
            if (LastReportNtp_ != 0) {
                about.lastSenderReport = LastReportNtp_;
                about.delaySinceLast = NtpMiddle(NtpNow()) - NtpMiddle(LastReportArrival_);
            }
            block = about;
        }
    }
    if (!sender && !block)
        return {};
    std::string cname = call.GetLocalUri();
    if (cname.rfind("sip:", 0) == 0)
        cname.erase(0, 4);
    return ComposeRtcp(call.GetWireSsrc(), sender, block, cname.empty() ? "telvira" : cname);
}

TCallQuality TRtpMediaPath::Quality() {
    std::lock_guard<std::mutex> guard(ReceiveLock_);
    return QualityLocked();
}

ICallMediaPathPtr NewRtpMediaPath() {
    return std::make_shared<TRtpMediaPath>();
}

}  // namespace media
