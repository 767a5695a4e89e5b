#include "media/rtp_packet.h"

namespace media {

namespace {

uint16_t Read16(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

uint32_t Read32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
           static_cast<uint32_t>(at[2]) << 8 | at[3];
}

}  // namespace

std::optional<TRtpPacket> TRtpPacket::Parse(std::span<const uint8_t> datagram) {
    if (datagram.size() < kFixedHeaderBytes || (datagram[0] >> 6) != 2)
        return std::nullopt;
    const uint8_t* data = datagram.data();
    TRtpPacket packet;
    packet.marker = (data[1] & 0x80) != 0;
    packet.payloadType = data[1] & 0x7F;
    packet.sequenceNumber = Read16(data + 2);
    packet.timestamp = Read32(data + 4);
    packet.ssrc = Read32(data + 8);
    packet.csrcCount = data[0] & 0x0F;
    std::size_t start = kFixedHeaderBytes + 4 * static_cast<std::size_t>(packet.csrcCount);
    if (data[0] & 0x10) {
        // Profile word and length in 32-bit words, then the words themselves.
        if (datagram.size() < start + 4)
            return std::nullopt;
        start += 4 + 4 * static_cast<std::size_t>(Read16(data + start + 2));
    }
    if (datagram.size() < start)
        return std::nullopt;
    std::size_t end = datagram.size();
    if (data[0] & 0x20) {
        const std::size_t padding = data[end - 1];
        if (padding == 0 || padding > end - start)
            return std::nullopt;
        end -= padding;
    }
    packet.payload = datagram.subspan(start, end - start);
    return packet;
}

}  // namespace media
