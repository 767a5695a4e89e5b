// Opus through libopus (RFC 7587): offered as opus/48000/2, sent and heard
// as mono narrow-band voice, since the booth's audio path runs at 8 kHz; the
// RTP clock still counts 48 kHz, 960 ticks a 20 ms frame.
//
// What the far end's a=fmtp allows decides how we encode: in-band FEC when
// it says useinbandfec=1 (each packet then carries a coarse copy of the one
// before, rebuilt by DecodeLost when that one is lost), DTX when it says
// usedtx=1, and a bitrate within its maxaveragebitrate. The loss it reports
// in RTCP is the encoder's expected loss, which sets how much FEC it adds.
//
// Decode writes up to 120 ms (960 samples, 1920 bytes), the longest packet
// Opus has; DecodeLost rebuilds at most 60 ms and leaves a longer loss to
// concealment.
#pragma once

#include <atomic>
#include <memory>

#include "media/opus_library.h"
#include "sip/sipints.h"

namespace media {

class TCodecOpus : public IAudioCodec {
public:
    static constexpr int kPayloadType = 111;
    static constexpr int kClockRate = 48000;
    static constexpr int kSampleRate = 8000;
    static constexpr int kMaxDecodeSamples = 960;
    static constexpr int kMaxRebuiltSamples = 480;
    // Narrow-band voice needs about 16 kbit/s; libopus adds FEC to SILK
    // frames only from about 18 kbit/s at this bandwidth, so with FEC the
    // rate is 20 kbit/s (all within the far end's maxaveragebitrate).
    static constexpr int kDefaultBitrate = 16000;
    static constexpr int kFecBitrate = 20000;
    static constexpr int kMaxPayloadBytes = 160;
    // Expected loss (%) until the far end first reports: a booth's line is
    // taken as lossy until it says otherwise, so the first loss finds FEC.
    static constexpr int kInitialLossPercent = 5;

    explicit TCodecOpus(std::shared_ptr<const TOpusLibrary> library);
    ~TCodecOpus() override;
    TCodecOpus(const TCodecOpus&) = delete;
    TCodecOpus& operator=(const TCodecOpus&) = delete;

    int GetFrameSize() override { return kClockRate / 50; }
    int GetPayloadType() override { return kPayloadType; }
    int GetClockRate() override { return kClockRate; }
    int Decode(const uint8_t* payload, int16_t* pcm, int length) override;
    // 0 bytes for a frame DTX leaves out.
    int Encode(const int16_t* pcm, uint8_t* payload) override;
    void SetFormatParameters(std::string_view farEnd) override;
    std::string GetFormatParameters() override;
    int DecodeLost(const uint8_t* next, int length, int16_t* pcm) override;
    void SetFarEndLoss(int percent) override;

    // Whether `packet` carries FEC for the packet before it (RFC 6716: the
    // LBRR flag of its first SILK frame).
    bool CarriesFec(const uint8_t* packet, int length) const;

    // What the encoder does now (for tests and figures).
    bool Fec() const { return fec_.load(); }
    bool Dtx() const { return dtx_.load(); }
    int Bitrate() const { return bitrate_.load(); }

private:
    void ApplySettings();

    std::shared_ptr<const TOpusLibrary> library_;
    const TOpusApi& api_;
    // Set from other threads, applied by Encode on the capture thread.
    std::atomic<bool> fec_{false};
    std::atomic<bool> dtx_{false};
    std::atomic<int> bitrate_{kDefaultBitrate};
    std::atomic<int> lossPercent_{kInitialLossPercent};
    std::atomic<int> changes_{1};
    // Encoder side (capture thread).
    OpusEncoder* encoder_ = nullptr;
    int applied_ = 0;
    // Decoder side (receive thread).
    OpusDecoder* decoder_ = nullptr;
};

}  // namespace media
