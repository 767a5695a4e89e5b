#include "media/speex_library.h"

#include <dlfcn.h>

namespace media {
namespace {

template <typename F>
bool Bind(void* handle, const char* name, F& target) {
    target = reinterpret_cast<F>(dlsym(handle, name));
    return target != nullptr;
}

// Entry points in the order the codec unit has always bound them.
bool BindAll(void* h, TSpeexApi& a) {
    return Bind(h, "speex_bits_read_from", a.bits_read_from) &&
           Bind(h, "speex_decoder_init", a.decoder_init) && Bind(h, "speex_decode", a.decode) &&
           Bind(h, "speex_bits_reset", a.bits_reset) && Bind(h, "speex_encode", a.encode) &&
           Bind(h, "speex_bits_nbytes", a.bits_nbytes) &&
           Bind(h, "speex_bits_write", a.bits_write) && Bind(h, "speex_bits_init", a.bits_init) &&
           Bind(h, "speex_encoder_init", a.encoder_init) &&
           Bind(h, "speex_lib_get_mode", a.lib_get_mode) &&
           Bind(h, "speex_encoder_ctl", a.encoder_ctl) &&
           Bind(h, "speex_decoder_ctl", a.decoder_ctl) &&
           Bind(h, "speex_bits_destroy", a.bits_destroy) &&
           Bind(h, "speex_encoder_destroy", a.encoder_destroy) &&
           Bind(h, "speex_decoder_destroy", a.decoder_destroy) &&
           Bind(h, "speex_bits_remaining", a.bits_remaining);
}

}  // namespace

std::shared_ptr<const TSpeexLibrary> TSpeexLibrary::Load(const std::string& fileName) {
    void* handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    TSpeexApi api{};
    if (!BindAll(handle, api)) {
        dlclose(handle);
        return nullptr;
    }
    return std::shared_ptr<const TSpeexLibrary>(new TSpeexLibrary(handle, api));
}

TSpeexLibrary::~TSpeexLibrary() { dlclose(handle_); }

}  // namespace media
