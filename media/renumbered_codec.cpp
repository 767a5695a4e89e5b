#include "media/renumbered_codec.h"

#include <stdexcept>

namespace media {

TRenumberedCodec::TRenumberedCodec(IAudioCodecPtr codec, int payloadType)
    : codec_(std::move(codec)), payloadType_(payloadType) {
    if (!codec_) throw std::invalid_argument("No codec to renumber");
    if (payloadType_ < 0 || payloadType_ > 127) throw std::invalid_argument("Not an RTP payload type");
}

}  // namespace media
