#include "media/codec_opus.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "media/format_parameters.h"

namespace media {
namespace {

constexpr int kFrameSamples8k = 160;
// RFC 7587: maxaveragebitrate lies within 6000..510000.
constexpr int kMinBitrate = 6000;
constexpr int kMaxBitrate = 510000;

}  // namespace

TCodecOpus::TCodecOpus(std::shared_ptr<const TOpusLibrary> library)
    : library_(std::move(library)), api_(library_->Api()) {
    int error = OPUS_OK;
    encoder_ = api_.encoderCreate(kSampleRate, 1, OPUS_APPLICATION_VOIP, &error);
    if (!encoder_ || error != OPUS_OK) throw std::runtime_error("Cannot create the Opus encoder");
    decoder_ = api_.decoderCreate(kSampleRate, 1, &error);
    if (!decoder_ || error != OPUS_OK) {
        api_.encoderDestroy(encoder_);
        throw std::runtime_error("Cannot create the Opus decoder");
    }
    api_.encoderCtl(encoder_, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    api_.encoderCtl(encoder_, OPUS_SET_MAX_BANDWIDTH(OPUS_BANDWIDTH_NARROWBAND));
    ApplySettings();
}

TCodecOpus::~TCodecOpus() {
    api_.encoderDestroy(encoder_);
    api_.decoderDestroy(decoder_);
}

void TCodecOpus::SetFormatParameters(std::string_view farEnd) {
    fec_ = FormatFlag(farEnd, "useinbandfec", false);
    dtx_ = FormatFlag(farEnd, "usedtx", false);
    const int wanted = fec_ ? kFecBitrate : kDefaultBitrate;
    int bitrate = wanted;
    if (const auto most = FormatParameter(farEnd, "maxaveragebitrate")) {
        try {
            bitrate = std::min(std::clamp(std::stoi(*most), kMinBitrate, kMaxBitrate), wanted);
        } catch (const std::exception&) {
            // Not a number: the default stands.
        }
    }
    bitrate_ = bitrate;
    ++changes_;
}

// What we ask of the far end's encoder: FEC for us to rebuild its lost
// packets with, and narrow-band voice, which is all our audio path plays.
std::string TCodecOpus::GetFormatParameters() {
    return "useinbandfec=1; maxplaybackrate=8000; sprop-maxcapturerate=8000; maxaveragebitrate=" +
           std::to_string(kFecBitrate);
}

void TCodecOpus::SetFarEndLoss(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (lossPercent_.exchange(percent) != percent) ++changes_;
}

void TCodecOpus::ApplySettings() {
    applied_ = changes_.load();
    api_.encoderCtl(encoder_, OPUS_SET_BITRATE(bitrate_.load()));
    api_.encoderCtl(encoder_, OPUS_SET_INBAND_FEC(fec_ ? 1 : 0));
    api_.encoderCtl(encoder_, OPUS_SET_DTX(dtx_ ? 1 : 0));
    api_.encoderCtl(encoder_, OPUS_SET_PACKET_LOSS_PERC(lossPercent_.load()));
}

int TCodecOpus::Encode(const int16_t* pcm, uint8_t* payload) {
    if (changes_.load() != applied_) ApplySettings();
    const int written = api_.encode(encoder_, pcm, kFrameSamples8k, payload, kMaxPayloadBytes);
    if (written < 0) return 0;
    // With DTX a packet of two bytes or less says "nothing new": not sent.
    if (dtx_ && written <= 2) return 0;
    return written;
}

int TCodecOpus::Decode(const uint8_t* payload, int16_t* pcm, int length) {
    if (length <= 0) return 0;
    const int samples = api_.decode(decoder_, payload, length, pcm, kMaxDecodeSamples, 0);
    return samples > 0 ? samples * 2 : 0;
}

bool TCodecOpus::CarriesFec(const uint8_t* packet, int length) const {
    if (length < 2) return false;
    const int config = packet[0] >> 3;
    if (config >= 16) return false;  // CELT only: no SILK layer, no FEC
    const unsigned char* frames[48];
    opus_int16 sizes[48];
    if (api_.packetParse(packet, length, nullptr, frames, sizes, nullptr) <= 0 || sizes[0] < 1)
        return false;
    // A 40 or 60 ms SILK-only frame holds two or three 20 ms ones, and
    // their VAD flags come ahead of the LBRR flag.
    // Hybrid configurations (12 to 15) are all 10 or 20 ms.
    const int silkFrames = config < 12 && (config & 3) >= 2 ? (config & 3) : 1;
    return ((frames[0][0] >> (7 - silkFrames)) & 1) != 0;
}

int TCodecOpus::DecodeLost(const uint8_t* next, int length, int16_t* pcm) {
    if (!CarriesFec(next, length)) return 0;
    const int samples = api_.packetSamples(next, length, kSampleRate);
    if (samples <= 0 || samples > kMaxRebuiltSamples) return 0;
    // The decoder rebuilds exactly the lost packet's duration, taken to be
    // the next one's.
    const int rebuilt = api_.decode(decoder_, next, length, pcm, samples, 1);
    return rebuilt > 0 ? rebuilt * 2 : 0;
}

}  // namespace media
