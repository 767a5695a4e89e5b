// The Speex library, loaded at run time. A library that is missing, or that
// lacks any of the entry points the codec uses, counts as absent: Speex is
// then simply not offered.
#pragma once

#include <speex/speex.h>
#include <speex/speex_bits.h>

#include <memory>
#include <string>

namespace media {

inline constexpr const char* kSpeexLibraryName = "libspeex.so.1";

struct TSpeexApi {
    decltype(&::speex_bits_read_from) bits_read_from;
    decltype(&::speex_decoder_init) decoder_init;
    decltype(&::speex_decode) decode;
    decltype(&::speex_bits_reset) bits_reset;
    decltype(&::speex_encode) encode;
    decltype(&::speex_bits_nbytes) bits_nbytes;
    decltype(&::speex_bits_write) bits_write;
    decltype(&::speex_bits_init) bits_init;
    decltype(&::speex_encoder_init) encoder_init;
    decltype(&::speex_lib_get_mode) lib_get_mode;
    decltype(&::speex_encoder_ctl) encoder_ctl;
    decltype(&::speex_decoder_ctl) decoder_ctl;
    decltype(&::speex_bits_destroy) bits_destroy;
    decltype(&::speex_encoder_destroy) encoder_destroy;
    decltype(&::speex_decoder_destroy) decoder_destroy;
    decltype(&::speex_bits_remaining) bits_remaining;
};

class TSpeexLibrary {
public:
    // nullptr when the file does not load or an entry point is missing.
    static std::shared_ptr<const TSpeexLibrary> Load(const std::string& fileName);
    ~TSpeexLibrary();
    TSpeexLibrary(const TSpeexLibrary&) = delete;
    TSpeexLibrary& operator=(const TSpeexLibrary&) = delete;

    const TSpeexApi& Api() const { return api_; }

private:
    TSpeexLibrary(void* handle, const TSpeexApi& api) : handle_(handle), api_(api) {}
    void* handle_;
    TSpeexApi api_;
};

}  // namespace media
