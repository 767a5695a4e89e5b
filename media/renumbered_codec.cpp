#include "media/renumbered_codec.h"

#include <algorithm>
#include <stdexcept>

namespace media {

namespace {

bool IsPayloadType(int number) { return number >= 0 && number <= 127; }

}  // namespace

TRenumberedCodec::TRenumberedCodec(IAudioCodecPtr codec, int payloadType)
    : TRenumberedCodec(std::move(codec), payloadType, {payloadType}) {}

TRenumberedCodec::TRenumberedCodec(IAudioCodecPtr codec, int payloadType, std::vector<int> received)
    : codec_(std::move(codec)), payloadType_(payloadType), received_(std::move(received)) {
    if (!codec_) throw std::invalid_argument("No codec to renumber");
    if (!IsPayloadType(payloadType_) || !std::all_of(received_.begin(), received_.end(), IsPayloadType))
        throw std::invalid_argument("Not an RTP payload type");
}

bool TRenumberedCodec::Receives(int payloadType) {
    return std::find(received_.begin(), received_.end(), payloadType) != received_.end();
}

}  // namespace media
