// The bcg729 library (G.729 Annex A with Annex B), loaded at run time.
#pragma once

// The library's headers declare C functions without saying so.
extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}

#include <memory>
#include <string>

#include "media/shared_library.h"

namespace media {

inline constexpr const char* kG729LibraryName = "libbcg729.so.0";

struct TG729Api {
    decltype(&::initBcg729EncoderChannel) initEncoder;
    decltype(&::closeBcg729EncoderChannel) closeEncoder;
    decltype(&::bcg729Encoder) encode;
    decltype(&::initBcg729DecoderChannel) initDecoder;
    decltype(&::closeBcg729DecoderChannel) closeDecoder;
    decltype(&::bcg729Decoder) decode;
};

class TG729Library {
public:
    // nullptr when the file does not load or an entry point is missing.
    static std::shared_ptr<const TG729Library> Load(const std::string& fileName);
    const TG729Api& Api() const { return api_; }

private:
    TG729Library(std::unique_ptr<TSharedLibrary> library, const TG729Api& api)
        : library_(std::move(library)), api_(api) {}
    std::unique_ptr<TSharedLibrary> library_;
    TG729Api api_;
};

}  // namespace media
