#include "media/g729_library.h"

namespace media {

std::shared_ptr<const TG729Library> TG729Library::Load(const std::string& fileName) {
    auto library = TSharedLibrary::Open(fileName);
    if (!library) return nullptr;
    TG729Api api{};
    const bool complete = library->Bind("initBcg729EncoderChannel", api.initEncoder) &&
                          library->Bind("closeBcg729EncoderChannel", api.closeEncoder) &&
                          library->Bind("bcg729Encoder", api.encode) &&
                          library->Bind("initBcg729DecoderChannel", api.initDecoder) &&
                          library->Bind("closeBcg729DecoderChannel", api.closeDecoder) &&
                          library->Bind("bcg729Decoder", api.decode);
    if (!complete) return nullptr;
    return std::shared_ptr<const TG729Library>(new TG729Library(std::move(library), api));
}

}  // namespace media
