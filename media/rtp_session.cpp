#include "media/rtp_session.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "media/call.h"
#include "media/codec_gsm.h"
#include "media/codecs.h"
#include "media/dtmf_detector.h"
#include "media/silence_detector.h"
#include "media/telephone_event.h"

namespace media {

namespace {

constexpr std::size_t kPcmFrameBytes = 320;

bool IsSwitchablePayloadType(int payloadType) {
    return payloadType == 0 || payloadType == 3 || payloadType == 8;
}

}  // namespace

void TRtpMediaPath::SendFrame(TCall& call, const int16_t* pcm) {
    Sender_.SendFrame(call, pcm);
}

// Receive path ------------------------------------------------------------------

void TRtpMediaPath::ReceiveTelephoneEvent(TCall& call, const TRtpPacket& packet) {
    const auto event = ReadTelephoneEvent(packet.payload.data(), packet.payload.size());
    if (!event)
        return;  // shorter than 4 bytes
    // All packets of one event carry its first packet's timestamp, and its
    // end goes out three times: a new timestamp is a new event even when
    // the end of the last one never came, and an event restarted on the
    // same timestamp after its end is a new one too.
    const bool sameTime = HasEvent_ && packet.timestamp == EventTimestamp_;
    const bool continues = sameTime && (!EventEnded_ || event->end);
    // An event with a later timestamp than the last, after that one ended or
    // for another key, is a new key press on the sender's own clock,
    // delivered however soon after the last it arrives (a fast dialer's
    // digits, or two that the network or a busy receiver bunched together)
    // as long as the in-band detector reported nothing in between. The dead
    // time judges the rest: an event restarted on its own timestamp may be a
    // reordered packet of the one that ended, the same key under a new
    // timestamp a sender that stamps each packet anew, and a key the tone in
    // the audio already gave must not come twice.
    const int32_t sinceLast = HasEvent_ ? static_cast<int32_t>(packet.timestamp - EventTimestamp_) : 0;
    if (sinceLast < 0 && sinceLast > -kStaleEventSpan)
        return;  // a late packet of an earlier event: the one under way stands
    const bool later = sinceLast > 0;
    const bool newPress = later && (EventEnded_ || event->event != EventCode_);
    EventCode_ = event->event;
    if (!continues && event->event <= 15) {
        const char digit = TKeypadToneDetector::kResultTable[event->event];
        if (newPress && call.GetLastDtmfTime() == EventReportTick_) {
            EventReportTick_ = call.Tick();
            call.SetLastDtmfTime(EventReportTick_);
            call.DeliverDtmf(digit);
        } else {
            call.ReportDtmf(std::string(1, digit));
            EventReportTick_ = call.GetLastDtmfTime();
        }
    }
    EventEnded_ = (continues && EventEnded_) || event->end;
    HasEvent_ = true;
    EventTimestamp_ = packet.timestamp;
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
    length = std::min(length, kMaxDatagram);
    const std::span<const uint8_t> datagram(data, length);
    const auto packet = TRtpPacket::Parse(datagram);
    if (!packet)
        return;  // not RTP version 2, or its header or padding does not fit
    switch (Stream_.Admit(*packet, datagram)) {
    case TRtpStreamTracker::TVerdict::Held:
        return;
    case TRtpStreamTracker::TVerdict::Switched: {
        {
            std::lock_guard<std::mutex> guard(ReceiveLock_);
            Buffer_.NewSource();
            Statistics_.NewSource();
        }
        HasEvent_ = false;
        if (const auto held = TRtpPacket::Parse(Stream_.Held()))
            ReceivePacket(call, *held);
        break;
    }
    case TRtpStreamTracker::TVerdict::Current:
        break;
    }
    ReceivePacket(call, *packet);
}

void TRtpMediaPath::ReceivePacket(TCall& call, const TRtpPacket& wirePacket) {
    const int payloadType = wirePacket.payloadType;
    TRtpPacket packet = wirePacket;
    const bool event = call.GetTelephoneEventTypes().Names(payloadType);
    if (event || payloadType == kComfortNoisePayloadType) {
        if (Mode_ == TReceiveMode::Adaptive) {
            std::lock_guard<std::mutex> guard(ReceiveLock_);
            // Counted as packets of the stream, never timed as audio: an
            // event's timestamp stands still, comfort noise comes when it
            // changes.
            Statistics_.OnPacket(packet.sequenceNumber, packet.timestamp, NowMs(call), false);
            SourceSsrc_ = packet.ssrc;
            if (payloadType == kComfortNoisePayloadType)
                ComfortLevel_ = packet.payload.empty() ? 127 : packet.payload[0] & 0x7F;
        }
        if (event)
            ReceiveTelephoneEvent(call, packet);
        return;
    }

    IAudioCodecPtr codec = call.GetCodec();
    if (IsSwitchablePayloadType(payloadType) && (!codec || !codec->Receives(payloadType))) {
        // From now on both directions use the peer's codec; the reference is
        // replaced under the call's lock, the send path holds its own copy.
        if (IAudioCodecPtr fresh = CodecRegistry().Create(payloadType)) {
            call.SetCodec(fresh);
            codec = std::move(fresh);
        }
    }
    if (!codec || !codec->Receives(payloadType) || packet.payload.empty())
        return;
    // From here on the codec goes by our number, whatever the far end calls it.
    packet.payloadType = codec->GetOwnPayloadType();
    packet.timestamp = Clock_.ToPathClock(packet.timestamp, codec->GetClockRate());
    if (Mode_ == TReceiveMode::Adaptive && Predecessor_.PreviousMissing(packet.sequenceNumber))
        ReceiveRebuilt(call, *codec, packet);
    if (Mode_ == TReceiveMode::Adaptive && packet.payloadType == TCodecGSM::kPayloadType) {
        ReceiveEncoded(call, packet);
        return;
    }
    const std::size_t payloadLength = std::min(packet.payload.size(), static_cast<std::size_t>(kMaxDecodePayload));
    auto* pcm = reinterpret_cast<int16_t*>(Decoded_.data());
    int decoded = codec->Decode(packet.payload.data(), pcm, static_cast<int>(payloadLength));
    decoded = std::clamp(decoded, 0, static_cast<int>(kMaxDecodedBytes));
    if (Mode_ == TReceiveMode::Adaptive) {
        ReceiveAdaptive(call, packet, decoded);
        if (const int level = codec->ComfortNoiseLevel(packet.payload.data(), static_cast<int>(payloadLength)); level >= 0) {
            std::lock_guard<std::mutex> guard(ReceiveLock_);
            ComfortLevel_ = level;  // a silence descriptor: noise until speech returns
        }
        return;
    }
    JitterBuffer_.Put(Decoded_.data(), decoded, packet.sequenceNumber);
    if (decoded >= static_cast<int>(kPcmFrameBytes))
        RunDetectors(call, pcm);
    PlayOut(call);
}

// Adaptive receive path ---------------------------------------------------------

TRtpMediaPath::~TRtpMediaPath() {
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

void TRtpMediaPath::Stop(TCall& call) {
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

void TRtpMediaPath::ReceiveAdaptive(TCall& call, const TRtpPacket& packet, int decoded) {
    const int samples = decoded / 2;
    TAdaptiveJitterBuffer::TPut how;
    how.talkspurt = Stream_.StartsTalkspurt(packet, samples);
    how.packetSamples = samples;
    {
        std::lock_guard<std::mutex> guard(ReceiveLock_);
        const double now = NowMs(call);
        Statistics_.OnPacket(packet.sequenceNumber, packet.timestamp, now, true);
        Buffer_.Put(Decoded_.data(), decoded, packet.timestamp, now, how);
        NoteAudio(packet);
    }
    // Detectors hear the audio as it comes, concealment never reaches them.
    for (int at = 0; at + kFrameSamples <= samples; at += kFrameSamples)
        RunDetectors(call, reinterpret_cast<const int16_t*>(Decoded_.data()) + at);
    WakePlayout(call);
}

void TRtpMediaPath::ReceiveRebuilt(TCall& call, IAudioCodec& codec, const TRtpPacket& packet) {
    // Decoded before the packet that carries it, as the decoder expects.
    const int payloadLength = static_cast<int>(std::min(packet.payload.size(), static_cast<std::size_t>(kMaxDecodePayload)));
    auto* pcm = reinterpret_cast<int16_t*>(Decoded_.data());
    const int rebuilt = std::clamp(codec.DecodeLost(packet.payload.data(), payloadLength, pcm), 0,
                                   static_cast<int>(kMaxDecodedBytes));
    if (rebuilt == 0)
        return;
    TAdaptiveJitterBuffer::TPut how;
    how.packetSamples = rebuilt / 2;
    std::lock_guard<std::mutex> guard(ReceiveLock_);
    Buffer_.Put(Decoded_.data(), rebuilt, packet.timestamp - static_cast<uint32_t>(rebuilt / 2), NowMs(call), how);
    ++Rebuilt_;
}

void TRtpMediaPath::ReceiveEncoded(TCall& call, const TRtpPacket& packet) {
    // Frames are kept as they came and decoded at playout, in order, so the
    // decoder meets loss and reordering where they happened.
    const int frames = static_cast<int>(packet.payload.size() / kGsmRtpFrameBytes);
    if (frames == 0)
        return;
    TAdaptiveJitterBuffer::TPut how;
    how.encoded = true;
    how.packetSamples = frames * kFrameSamples;
    how.talkspurt = Stream_.StartsTalkspurt(packet, how.packetSamples);
    {
        std::lock_guard<std::mutex> guard(ReceiveLock_);
        const double now = NowMs(call);
        Statistics_.OnPacket(packet.sequenceNumber, packet.timestamp, now, true);
        for (int frame = 0; frame < frames; ++frame) {
            Buffer_.Put(packet.payload.data() + frame * kGsmRtpFrameBytes, kGsmRtpFrameBytes,
                        packet.timestamp + static_cast<uint32_t>(frame * kFrameSamples), now, how);
            how.talkspurt = false;
        }
        NoteAudio(packet);
    }
    WakePlayout(call);
}

void TRtpMediaPath::NoteAudio(const TRtpPacket& packet) {
    PayloadType_ = packet.payloadType;
    SourceSsrc_ = packet.ssrc;
    ComfortLevel_ = -1;
}

void TRtpMediaPath::WakePlayout(TCall& call) {
    // Whoever drains the call plays out right after.
    if (call.DrainingHere())
        return;
    // A frame held back until its time: the loop must run for it sooner
    // than it planned.
    call.RunMediaWithin(Service(call));
}

double TRtpMediaPath::Service(TCall& call) {
    if (Mode_ != TReceiveMode::Adaptive)
        return kIdleMs;  // the four-slot buffer plays as packets come
    const ISipSpeakerPtr speaker = call.GetSpeaker();
    if (AttachSpeaker(call, speaker))
        return kIdleMs;  // the speaker's clock asks for frames
    double next = 0;
    {
        std::lock_guard<std::mutex> guard(ReceiveLock_);
        const double now = NowMs(call);
        next = Buffer_.NextEventMs() - now;
        for (;;) {
            // While the device is behind, frames wait here rather than be
            // lost; it is asked again half a frame later.
            if (speaker && !speaker->CanPlay()) {
                next = TAdaptiveJitterBuffer::kFrameMs / 2;
                break;
            }
            int length = 0;
            const auto output = Buffer_.Get(now, OutBuffer_.data(), length);
            if (output == TAdaptiveJitterBuffer::TOutput::None) {
                next = Buffer_.NextEventMs() - now;
                break;
            }
            length = Render(call, output, length);
            if (speaker)
                speaker->Play(OutBuffer_.data(), length);
        }
    }
    RunPendingDetectors(call);
    return next;
}

int TRtpMediaPath::PullFrame(TCall& call, int16_t* pcm, int capacity) {
    // The media loop may be late: a packet already in the kernel is taken
    // before the buffer is asked, so its frame is heard, not concealed.
    call.DrainMedia();
    int count = 0;
    {
        std::lock_guard<std::mutex> guard(ReceiveLock_);
        int length = 0;
        const auto output = Buffer_.Pull(NowMs(call), OutBuffer_.data(), length);
        if (output == TAdaptiveJitterBuffer::TOutput::None) {
            // Nothing from the far end (on hold, or a silent line): a sound
            // of the booth's own still plays.
            std::memset(OutBuffer_.data(), 0, kPcmFrameBytes);
            if (!call.MixIntoSpeaker(reinterpret_cast<int16_t*>(OutBuffer_.data()), kFrameSamples))
                return 0;
            length = static_cast<int>(kPcmFrameBytes);
        } else {
            length = Render(call, output, length);
        }
        count = std::min(length / 2, capacity);
        std::memcpy(pcm, OutBuffer_.data(), static_cast<std::size_t>(count) * 2);
    }
    RunPendingDetectors(call);
    return count;
}

bool TRtpMediaPath::DecodeTaken(TCall& call, int& length) {
    const IAudioCodecPtr codec = call.GetCodec();
    if (!codec || codec->GetOwnPayloadType() != PayloadType_)
        return false;  // the codec changed under the frame: it cannot be heard
    auto* pcm = reinterpret_cast<int16_t*>(RenderDecoded_.data());
    const int decoded = codec->Decode(OutBuffer_.data(), pcm, length);
    length = std::clamp(decoded, 0, static_cast<int>(kDecodeBufferBytes));
    std::memcpy(OutBuffer_.data(), RenderDecoded_.data(), static_cast<std::size_t>(length));
    if (length >= static_cast<int>(kPcmFrameBytes) && PendingDetections_ < Detections_.size())
        std::memcpy(Detections_[PendingDetections_++].data(), pcm, kPcmFrameBytes);
    return true;
}

void TRtpMediaPath::RunPendingDetectors(TCall& call) {
    // The media loop and a pulling speaker both get here: each takes its
    // own copy of what is pending.
    std::array<std::array<int16_t, kFrameSamples>, kPendingDetections> taken;
    std::size_t count = 0;
    {
        std::lock_guard<std::mutex> guard(ReceiveLock_);
        count = PendingDetections_;
        std::copy_n(Detections_.begin(), count, taken.begin());
        PendingDetections_ = 0;
    }
    for (std::size_t index = 0; index < count; ++index)
        RunDetectors(call, taken[index].data());
}

void TRtpMediaPath::FillComfortNoise(int16_t* pcm, int count) {
    // The level is in -dBov: 0 is a full-scale signal. Uniform noise of
    // amplitude a has an RMS of a / sqrt(3).
    const double rms = 32767.0 * std::pow(10.0, -ComfortLevel_ / 20.0);
    const double amplitude = rms * std::sqrt(3.0);
    for (int n = 0; n < count; ++n) {
        NoiseState_ = NoiseState_ * 1664525u + 1013904223u;
        const double unit = static_cast<double>(NoiseState_ >> 8) / static_cast<double>(1u << 24) * 2.0 - 1.0;
        pcm[n] = static_cast<int16_t>(std::clamp(unit * amplitude, -32768.0, 32767.0));
    }
}

int TRtpMediaPath::Render(TCall& call, TAdaptiveJitterBuffer::TOutput output, int length) {
    auto* pcm = reinterpret_cast<int16_t*>(OutBuffer_.data());
    if (output == TAdaptiveJitterBuffer::TOutput::Frame && Buffer_.TakenEncoded() && !DecodeTaken(call, length))
        output = TAdaptiveJitterBuffer::TOutput::Conceal;
    if (output == TAdaptiveJitterBuffer::TOutput::Frame) {
        if (length < static_cast<int>(kPcmFrameBytes)) {
            std::memset(OutBuffer_.data() + length, 0, kPcmFrameBytes - static_cast<std::size_t>(length));
            length = static_cast<int>(kPcmFrameBytes);
        }
        Concealer_.Good(pcm, length / 2);
    } else if (ComfortLevel_ >= 0) {
        // The sender is silent and said how loud its background is.
        length = static_cast<int>(kPcmFrameBytes);
        FillComfortNoise(pcm, length / 2);
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
    quality.concealed = Buffer_.ConcealedWithinStream();
    const int64_t expected = Statistics_.Expected();
    const int64_t missing = std::max<int64_t>(0, quality.lost) + quality.late;
    quality.lossPercent = expected > 0 ? 100.0 * static_cast<double>(missing) / static_cast<double>(expected) : 0;
    quality.meanBurst = Statistics_.MeanBurst();
    quality.jitterMs = Statistics_.JitterMs();
    quality.bufferDelayMs = Buffer_.DelayMs();
    quality.rttMs = RttMs_;
    quality.payloadType = PayloadType_;
    quality.rebuilt = Rebuilt_;
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
        if (const IAudioCodecPtr codec = call.GetCodec())
            codec->SetFarEndLoss(report->aboutUs->fractionLost * 100 / 256);
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
    std::string cname = call.Dialog().LocalUri();
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
