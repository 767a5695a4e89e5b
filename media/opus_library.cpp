#include "media/opus_library.h"

namespace media {

std::shared_ptr<const TOpusLibrary> TOpusLibrary::Load(const std::string& fileName) {
    auto library = TSharedLibrary::Open(fileName);
    if (!library) return nullptr;
    TOpusApi api{};
    const bool complete = library->Bind("opus_encoder_create", api.encoderCreate) &&
                          library->Bind("opus_encoder_destroy", api.encoderDestroy) &&
                          library->Bind("opus_encoder_ctl", api.encoderCtl) &&
                          library->Bind("opus_encode", api.encode) &&
                          library->Bind("opus_decoder_create", api.decoderCreate) &&
                          library->Bind("opus_decoder_destroy", api.decoderDestroy) &&
                          library->Bind("opus_decode", api.decode) &&
                          library->Bind("opus_packet_get_nb_samples", api.packetSamples) &&
                          library->Bind("opus_packet_parse", api.packetParse);
    if (!complete) return nullptr;
    return std::shared_ptr<const TOpusLibrary>(new TOpusLibrary(std::move(library), api));
}

}  // namespace media
