// The RTP paths of a call: the send path run once per captured
// frame on the capture thread, and the receive handler run for every datagram
// taken from the call's RTP socket (one taker at a time, under the call's
// drain lock), with the jitter buffer and the detectors.
//
// Threading: SendFrame touches the call's TRtpSendState and this object's send
// members only; ReceiveDatagram touches the jitter buffer and the receive
// members only. The codec reference they share is read and replaced through
// TCall::GetCodec/SetCodec, which guard it with a lock; each path works on its
// own counted copy, so a replacement never frees a codec in use. On the
// adaptive path the frames to hear are rendered under ReceiveLock_, by the
// media loop for a speaker fed through Play, or by the speaker's own thread
// for one that asks for its frames (PullFrame), which first drains the
// call's socket so that a packet already here is never concealed.
//
// Received datagrams are untrusted. Bounds:
// - fewer than 12 bytes: dropped (no header to read);
// - a padding count larger than the payload: dropped;
// - a telephone event shorter than 4 bytes: dropped;
// - the payload given to a codec is cut to kMaxDecodePayload = 512 bytes, so
//   G.711 (2 bytes out per byte in) writes at most 1024 bytes: within the
//   1026-byte decode buffer and one 1024-byte jitter slot (GSM and Speex read
//   only their frame and write 320 bytes);
// - a received packet is decoded into kMaxDecodedBytes, room for the 120 ms
//   an Opus packet may hold; the adaptive buffer spreads it over its 20 ms
//   frames.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include <mutex>

#include "media/adaptive_jitter_buffer.h"
#include "media/call_media_path.h"
#include "media/call_quality.h"
#include "media/jitter_buffer.h"
#include "media/loss_concealer.h"
#include "media/receive_statistics.h"
#include "media/rtcp.h"
#include "media/rtp_clock.h"
#include "media/rtp_packet.h"
#include "media/rtp_stream_tracker.h"
#include "media/rtp_sender.h"
#include "sip/sipints.h"

namespace media {

// How received audio reaches the speaker. Adaptive: the adaptive jitter
// buffer on its own clock, with loss concealment and quality figures.
// FixedFourSlot: the four-slot reorder buffer, played as packets come,
// without concealment (kept for comparison in the benchmarks).
enum class TReceiveMode { Adaptive, FixedFourSlot };

class TRtpMediaPath final : public ICallMediaPath {
public:
    static constexpr std::size_t kHeaderSize = 12;
    static constexpr std::size_t kMaxDatagram = 12 + 1024;
    static constexpr std::size_t kDecodeBufferBytes = 1026;
    static constexpr int kMaxDecodePayload = 512;
    static constexpr std::size_t kMaxDecodedBytes = 1920;
    static constexpr uint32_t kInBandRepeatMs = 250;
    // RFC 3389 comfort noise: a level, played as noise until audio returns.
    static constexpr int kComfortNoisePayloadType = 13;

    // Figures are published to the call every kPublishFrames frames played.
    static constexpr int kPublishFrames = 10;

    explicit TRtpMediaPath(TReceiveMode mode = TReceiveMode::Adaptive) : Mode_(mode) {}
    ~TRtpMediaPath() override;

    void SendFrame(TCall& call, const int16_t* pcm) override;
    void ReceiveDatagram(TCall& call, const uint8_t* data, std::size_t length) override;
    void Stop(TCall& call) override;
    void ReceiveControl(TCall& call, const uint8_t* data, std::size_t length) override;
    std::vector<uint8_t> ComposeControl(TCall& call) override;

    // Receive thread only (tests and benchmarks look inside): the four-slot
    // buffer of the fixed mode.
    TJitterBuffer& JitterBuffer() { return JitterBuffer_; }
    // The figures as they stand now.
    TCallQuality Quality();
    // Plays what is due on the adaptive path at the call's tick; returns the
    // ms until something may be due next. The media loop runs it; tests
    // run it by hand with an injected clock. A speaker that takes a frame
    // source is handed one here and from then on asks for its frames itself.
    double Service(TCall& call) override;
    // The adaptive path's frame for the device period starting now (the
    // speaker's frame source; tests call it by hand): samples written, 0
    // when there is nothing to play.
    int PullFrame(TCall& call, int16_t* pcm, int capacity);

private:
    void ReceivePacket(TCall& call, const TRtpPacket& packet);
    void ReceiveTelephoneEvent(TCall& call, const TRtpPacket& packet);
    void RunDetectors(TCall& call, const int16_t* pcm);
    void PlayOut(TCall& call);
    void ReceiveAdaptive(TCall& call, const TRtpPacket& packet, int decoded);
    void ReceiveEncoded(TCall& call, const TRtpPacket& packet);
    // The packet before `packet` never came: what its FEC rebuilds of it.
    void ReceiveRebuilt(TCall& call, IAudioCodec& codec, const TRtpPacket& packet);
    void NoteAudio(const TRtpPacket& packet);  // caller holds ReceiveLock_
    void WakePlayout(TCall& call);
    // Decodes the encoded frame just taken out in OutBuffer_, in place;
    // caller holds ReceiveLock_. False when it cannot be decoded.
    bool DecodeTaken(TCall& call, int& length);
    // Frames decoded at playout reach the detectors once the lock is let go.
    void RunPendingDetectors(TCall& call);
    void FillComfortNoise(int16_t* pcm, int count);  // caller holds ReceiveLock_
    double NowMs(TCall& call);  // caller holds ReceiveLock_
    TCallQuality QualityLocked();
    // Turns the buffer's output in OutBuffer_ into the frame to hear; caller
    // holds ReceiveLock_. Returns the length in bytes.
    int Render(TCall& call, TAdaptiveJitterBuffer::TOutput output, int length);
    // Hands `speaker` the frame source if it takes one and takes it back
    // from the speaker before; true while the speaker pulls.
    bool AttachSpeaker(TCall& call, const ISipSpeakerPtr& speaker);
    void DetachSpeaker();

    TRtpSender Sender_;  // capture thread only

    const TReceiveMode Mode_;

    // Receive side (one datagram at a time, under the call's drain lock).
    TRtpStreamTracker Stream_;
    // A packet this far behind the last event's timestamp (one event's
    // longest duration) belongs to an earlier event; further back, it is a
    // restarted stream's.
    static constexpr int32_t kStaleEventSpan = 65536;
    bool HasEvent_ = false;  // the last telephone event: its timestamp, whether it ended
    uint32_t EventTimestamp_ = 0;
    bool EventEnded_ = false;
    int EventCode_ = -1;
    uint32_t EventReportTick_ = 0;  // when the last event was reported, delivered or not
    TJitterBuffer JitterBuffer_;
    TRtpClockScaler Clock_;
    TLostPredecessor Predecessor_;
    alignas(int16_t) std::array<uint8_t, kMaxDecodedBytes> Decoded_{};
    alignas(int16_t) std::array<uint8_t, kDecodeBufferBytes> PlayBuffer_{};

    // Adaptive path: shared by the receive side and the playout.
    std::mutex ReceiveLock_;  // guards the members down to Outputs_
    TAdaptiveJitterBuffer Buffer_;
    TLossConcealer Concealer_;
    TReceiveStatistics Statistics_;
    alignas(int16_t) std::array<uint8_t, kDecodeBufferBytes> OutBuffer_{};
    alignas(int16_t) std::array<uint8_t, kDecodeBufferBytes> RenderDecoded_{};
    bool HasTick_ = false;
    uint32_t LastTick_ = 0;
    double TickMs_ = 0;
    int64_t Outputs_ = 0;
    int64_t Rebuilt_ = 0;  // frames FEC rebuilt
    int PayloadType_ = 0;
    uint32_t SourceSsrc_ = 0;         // the far end's, from its RTP
    int ComfortLevel_ = -1;           // -dBov of the sender's comfort noise while it is silent
    uint32_t NoiseState_ = 1;
    static constexpr std::size_t kPendingDetections = 4;
    std::array<std::array<int16_t, 160>, kPendingDetections> Detections_{};  // decoded at playout, for the detectors
    std::size_t PendingDetections_ = 0;
    uint32_t LastReportNtp_ = 0;      // middle bits of its last sender report's time
    uint64_t LastReportArrival_ = 0;  // our NTP time when it came
    double RttMs_ = -1;

    // Never held while ReceiveLock_ is: a pulling speaker holds its source
    // while the source takes ReceiveLock_.
    std::mutex AttachLock_;
    std::weak_ptr<ISipSpeaker> Attached_;  // guarded by AttachLock_
    const ISipSpeaker* AttachedRaw_ = nullptr;  // identity of Attached_, even once gone
    bool Pulling_ = false;  // guarded by AttachLock_
};

// A fresh media path per call: the engine's default.
ICallMediaPathPtr NewRtpMediaPath();

}  // namespace media
