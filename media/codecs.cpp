#include "media/codecs.h"

#include <algorithm>

#include "media/codec_g711.h"
#include "media/codec_g729.h"
#include "media/codec_gsm.h"
#include "media/codec_opus.h"
#include "media/codec_speex.h"
#include "media/renumbered_codec.h"
#include "media/speex_library.h"

namespace media {

void TCodecRegistry::Register(int payloadType, TCodecFactory factory) {
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [payloadType](const auto& e) { return e.first == payloadType; });
    if (found != entries_.end()) {
        found->second = std::move(factory);
    } else {
        entries_.emplace_back(payloadType, std::move(factory));
    }
}

bool TCodecRegistry::IsRegistered(int payloadType) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [payloadType](const auto& e) { return e.first == payloadType; });
}

IAudioCodecPtr TCodecRegistry::Create(int payloadType) const {
    for (const auto& [type, factory] : entries_) {
        if (type == payloadType) return factory();
    }
    return nullptr;
}

std::vector<int> TCodecRegistry::PayloadTypes() const {
    std::vector<int> types;
    types.reserve(entries_.size());
    for (const auto& entry : entries_) types.push_back(entry.first);
    return types;
}

void RegisterBuiltinCodecs(TCodecRegistry& registry, const std::string& speexLibrary) {
    RegisterBuiltinCodecs(registry, speexLibrary, kG729LibraryName, kOpusLibraryName);
}

void RegisterBuiltinCodecs(TCodecRegistry& registry, const std::string& speexLibrary,
                           const std::string& g729Library, const std::string& opusLibrary) {
    registry.Register(TCodecPCMA::kPayloadType, [] { return std::make_shared<TCodecPCMA>(); });
    registry.Register(TCodecPCMU::kPayloadType, [] { return std::make_shared<TCodecPCMU>(); });
    registry.Register(TCodecGSM::kPayloadType, [] { return std::make_shared<TCodecGSM>(); });
    // The library stays loaded for as long as the registry or any codec made
    // from it holds a reference.
    if (auto library = TSpeexLibrary::Load(speexLibrary)) {
        registry.Register(TCodecSpeex::kPayloadType,
                          [library] { return std::make_shared<TCodecSpeex>(library); });
    }
    if (auto library = TG729Library::Load(g729Library)) {
        registry.Register(TCodecG729::kPayloadType,
                          [library] { return std::make_shared<TCodecG729>(library); });
    }
    if (auto library = TOpusLibrary::Load(opusLibrary)) {
        registry.Register(TCodecOpus::kPayloadType,
                          [library] { return std::make_shared<TCodecOpus>(library); });
    }
}

TCodecRegistry& CodecRegistry() {
    static TCodecRegistry registry = [] {
        TCodecRegistry r;
        RegisterBuiltinCodecs(r, kSpeexLibraryName);
        return r;
    }();
    return registry;
}

IAudioCodecPtr CreateCodec(int payloadType, std::string_view farEndParameters) {
    IAudioCodecPtr codec = CodecRegistry().Create(payloadType);
    if (codec) codec->SetFormatParameters(farEndParameters);
    return codec;
}

IAudioCodecPtr CreateCodec(int payloadType, std::string_view farEndParameters, int wirePayloadType,
                           std::vector<int> received) {
    IAudioCodecPtr codec = CreateCodec(payloadType, farEndParameters);
    if (received.empty()) received.push_back(wirePayloadType);
    const bool plain = wirePayloadType == payloadType && received == std::vector<int>{payloadType};
    if (!codec || plain) return codec;
    return std::make_shared<TRenumberedCodec>(std::move(codec), wirePayloadType, std::move(received));
}

}  // namespace media
