// The Opus library, loaded at run time.
#pragma once

#include <opus/opus.h>

#include <memory>
#include <string>

#include "media/shared_library.h"

namespace media {

inline constexpr const char* kOpusLibraryName = "libopus.so.0";

struct TOpusApi {
    decltype(&::opus_encoder_create) encoderCreate;
    decltype(&::opus_encoder_destroy) encoderDestroy;
    decltype(&::opus_encoder_ctl) encoderCtl;
    decltype(&::opus_encode) encode;
    decltype(&::opus_decoder_create) decoderCreate;
    decltype(&::opus_decoder_destroy) decoderDestroy;
    decltype(&::opus_decode) decode;
    decltype(&::opus_packet_get_nb_samples) packetSamples;
    decltype(&::opus_packet_parse) packetParse;
};

class TOpusLibrary {
public:
    // nullptr when the file does not load or an entry point is missing.
    static std::shared_ptr<const TOpusLibrary> Load(const std::string& fileName);
    const TOpusApi& Api() const { return api_; }

private:
    TOpusLibrary(std::unique_ptr<TSharedLibrary> library, const TOpusApi& api)
        : library_(std::move(library)), api_(api) {}
    std::unique_ptr<TSharedLibrary> library_;
    TOpusApi api_;
};

}  // namespace media
