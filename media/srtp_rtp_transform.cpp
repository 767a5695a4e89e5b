#include "media/srtp_rtp_transform.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include <openssl/crypto.h>

#include "media/srtp_session_keys.h"

namespace media {

namespace {

constexpr std::size_t kFixedHeaderBytes = 12;
constexpr std::size_t kBlockBytes = TAes128::kBlockBytes;

uint16_t Read16(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }
uint32_t Read32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
           static_cast<uint32_t>(at[2]) << 8 | at[3];
}

// Bytes of the header with its CSRCs and extension, which stay in the
// clear; nothing when `length` does not hold the header it announces.
std::optional<std::size_t> HeaderBytes(const uint8_t* packet, std::size_t length) {
    if (length < kFixedHeaderBytes)
        return std::nullopt;
    std::size_t header = kFixedHeaderBytes + 4 * static_cast<std::size_t>(packet[0] & 0x0f);
    if (packet[0] & 0x10) {
        if (length < header + 4)
            return std::nullopt;
        header += 4 + 4 * static_cast<std::size_t>(Read16(packet + header + 2));
    }
    if (length < header)
        return std::nullopt;
    return header;
}

// The block counter has 16 bits: a packet's keystream never repeats.
constexpr std::size_t kMaxPayloadBytes = (std::size_t{1} << 16) * kBlockBytes;

std::size_t TagBytesOf(TSrtpSuite suite) { return suite == TSrtpSuite::AesCm128HmacSha1_80 ? 10 : 4; }

}  // namespace

TSrtpRtpTransform::TSrtpRtpTransform(TSrtpSuite suite, std::span<const uint8_t> masterKeySalt)
    : TagBytes_(TagBytesOf(suite)) {
    if (masterKeySalt.size() != kSrtpKeySaltBytes)
        throw std::runtime_error("SRTP key and salt must be " + std::to_string(kSrtpKeySaltBytes) + " bytes");
    const TSrtpSessionKeys keys = DeriveRtpSessionKeys(masterKeySalt.first<kSrtpKeySaltBytes>());
    Aes_.emplace(keys.cipherKey);
    Salt_ = keys.cipherSalt;
    Hmac_.emplace(keys.authKey);
}

TSrtpRtpTransform::~TSrtpRtpTransform() {
    OPENSSL_cleanse(Salt_.data(), Salt_.size());
}

TSrtpRtpTransform::TStream* TSrtpRtpTransform::Find(uint32_t ssrc) {
    for (TStream& stream : Streams_)
        if (stream.ssrc == ssrc)
            return &stream;
    return nullptr;
}

std::optional<std::size_t> TSrtpRtpTransform::Protect(uint8_t* packet, std::size_t length, std::size_t capacity) {
    const auto header = HeaderBytes(packet, length);
    if (!header || capacity < length + TagBytes_ || length - *header > kMaxPayloadBytes)
        return std::nullopt;
    const uint32_t ssrc = Read32(packet + 8);
    TStream* stream = Find(ssrc);
    if (!stream)
        stream = &Streams_.emplace_back(TStream{ssrc, {}});
    const TSrtpReplayWindow::TEstimate estimate = stream->window.Estimate(Read16(packet + 2));
    if (stream->window.Check(estimate.delta) != TSrtpReplayWindow::TCheck::Fresh)
        return std::nullopt;
    stream->window.Add(estimate.delta);
    Crypt(packet + *header, length - *header, ssrc, estimate.index);
    const TTag tag = Sign(packet, length, estimate.index);
    std::memcpy(packet + length, tag.data(), TagBytes_);
    return length + TagBytes_;
}

TSrtpSession::TUnprotected TSrtpRtpTransform::Unprotect(uint8_t* packet, std::size_t length) {
    const auto header = length >= TagBytes_ ? HeaderBytes(packet, length - TagBytes_) : std::nullopt;
    if (!header || length - TagBytes_ - *header > kMaxPayloadBytes)
        return {0, TSrtpRefusal::Malformed};
    const std::size_t signedBytes = length - TagBytes_;
    const uint32_t ssrc = Read32(packet + 8);
    const uint16_t sequence = Read16(packet + 2);
    TStream* stream = Find(ssrc);
    // A new SSRC starts at index 0, as a stream the far end just began.
    TSrtpReplayWindow fresh;
    const TSrtpReplayWindow& window = stream ? stream->window : fresh;
    const TSrtpReplayWindow::TEstimate estimate = window.Estimate(sequence);
    if (window.Check(estimate.delta) != TSrtpReplayWindow::TCheck::Fresh)
        return {0, TSrtpRefusal::Replay};
    const TTag tag = Sign(packet, signedBytes, estimate.index);
    if (CRYPTO_memcmp(tag.data(), packet + signedBytes, TagBytes_) != 0)
        return {0, TSrtpRefusal::Authentication};
    Crypt(packet + *header, signedBytes - *header, ssrc, estimate.index);
    if (!stream)
        stream = &Streams_.emplace_back(TStream{ssrc, {}});
    stream->window.Add(estimate.delta);
    return {signedBytes, TSrtpRefusal::None};
}

void TSrtpRtpTransform::Crypt(uint8_t* data, std::size_t length, uint32_t ssrc, uint64_t index) {
    // The packet's IV (RFC 3711 4.1.1): the salt, the SSRC at bytes 4..7
    // and the index at 8..13; the last two bytes count the blocks.
    std::array<uint8_t, kBlockBytes> iv{};
    std::copy(Salt_.begin(), Salt_.end(), iv.begin());
    for (int i = 0; i < 4; ++i)
        iv[static_cast<std::size_t>(4 + i)] ^= static_cast<uint8_t>(ssrc >> (24 - 8 * i));
    for (int i = 0; i < 6; ++i)
        iv[static_cast<std::size_t>(8 + i)] ^= static_cast<uint8_t>(index >> (40 - 8 * i));
    constexpr std::size_t kBatchBlocks = 16;
    alignas(16) std::array<uint8_t, kBatchBlocks * kBlockBytes> batch;
    unsigned block = 0;
    while (length > 0) {
        const std::size_t blocks = std::min((length + kBlockBytes - 1) / kBlockBytes, kBatchBlocks);
        for (std::size_t n = 0; n < blocks; ++n, ++block) {
            uint8_t* counter = batch.data() + n * kBlockBytes;
            std::memcpy(counter, iv.data(), kBlockBytes - 2);
            counter[14] = static_cast<uint8_t>(block >> 8);
            counter[15] = static_cast<uint8_t>(block);
        }
        Aes_->EncryptBlocks(batch.data(), blocks);
        const std::size_t bytes = std::min(length, blocks * kBlockBytes);
        for (std::size_t i = 0; i < bytes; ++i)
            data[i] ^= batch[i];
        data += bytes;
        length -= bytes;
    }
}

TSrtpRtpTransform::TTag TSrtpRtpTransform::Sign(const uint8_t* packet, std::size_t length, uint64_t index) const {
    const uint32_t rollover = static_cast<uint32_t>(index >> 16);
    const uint8_t rolloverBytes[4] = {static_cast<uint8_t>(rollover >> 24), static_cast<uint8_t>(rollover >> 16),
                                      static_cast<uint8_t>(rollover >> 8), static_cast<uint8_t>(rollover)};
    TSha1 inner = Hmac_->Begin();
    inner.Update(packet, length);
    inner.Update(rolloverBytes, sizeof rolloverBytes);
    return Hmac_->Finish(inner);
}

}  // namespace media
