// The codec registry: payload type numbers mapped to factories of fresh codec
// objects. The process-wide registry is filled once, on first use, and only
// read afterwards, so lookups take no lock.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sip/sipints.h"

namespace media {

// Samples in one 20 ms frame of 8 kHz audio, and its size in bytes.
inline constexpr int kFrameSamples = 160;
inline constexpr int kFrameBytes = kFrameSamples * 2;

using TCodecFactory = std::function<IAudioCodecPtr()>;

class TCodecRegistry {
public:
    // Replaces the factory of a type already present, otherwise appends.
    void Register(int payloadType, TCodecFactory factory);
    bool IsRegistered(int payloadType) const;
    // A new codec of the type, or nullptr for an unknown type.
    IAudioCodecPtr Create(int payloadType) const;
    // The registered types in registration order.
    std::vector<int> PayloadTypes() const;

private:
    std::vector<std::pair<int, TCodecFactory>> entries_;
};

// Registers the built-in codecs in start-up order: 8 and 0, then 3, then
// 110, 18 (G.729) and 111 (Opus) each only when its library of the given
// file name loads completely; the first form takes the system's G.729 and
// Opus.
void RegisterBuiltinCodecs(TCodecRegistry& registry, const std::string& speexLibrary);
void RegisterBuiltinCodecs(TCodecRegistry& registry, const std::string& speexLibrary,
                           const std::string& g729Library, const std::string& opusLibrary);

// The process-wide registry, with the built-in codecs and the system's Speex,
// G.729 and Opus.
TCodecRegistry& CodecRegistry();

// A new codec of the type from the process-wide registry, set up for the
// far end's format parameters (its a=fmtp value); nullptr for an unknown
// type.
IAudioCodecPtr CreateCodec(int payloadType, std::string_view farEndParameters);
// The same, sent under `wirePayloadType`, the far end's number for it, and
// received under each of `received` (under `wirePayloadType` when empty).
IAudioCodecPtr CreateCodec(int payloadType, std::string_view farEndParameters, int wirePayloadType,
                           std::vector<int> received = {});

}  // namespace media
