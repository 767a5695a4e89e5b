// One received RTP packet as a value: the fixed header's fields and where
// the payload lies, with the CSRC list, the header extension and the padding
// stepped over (they are never decoded). Parsing never trusts the datagram:
// anything that does not add up gives no packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace media {

struct TRtpPacket {
    static constexpr std::size_t kFixedHeaderBytes = 12;

    bool marker = false;
    int payloadType = 0;
    uint16_t sequenceNumber = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;  // as it stands on the wire, big-endian
    int csrcCount = 0;
    std::span<const uint8_t> payload;  // points into the parsed datagram

    // Nothing for a version other than 2, a header (CSRCs, extension) longer
    // than the datagram, or a padding count of 0 or beyond the payload.
    static std::optional<TRtpPacket> Parse(std::span<const uint8_t> datagram);
};

}  // namespace media
