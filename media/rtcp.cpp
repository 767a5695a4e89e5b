#include "media/rtcp.h"

#include <algorithm>
#include <chrono>

namespace media {

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, value >> 16);
    Put16(out, value & 0xFFFF);
}

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Fills in the length field (32-bit words minus one) of the packet at `start`.
void CloseLength(std::vector<uint8_t>& out, std::size_t start) {
    while ((out.size() - start) % 4 != 0)
        out.push_back(0);
    const auto words = static_cast<uint32_t>((out.size() - start) / 4 - 1);
    out[start + 2] = static_cast<uint8_t>(words >> 8);
    out[start + 3] = static_cast<uint8_t>(words);
}

void PutBlock(std::vector<uint8_t>& out, const TRtcpReportBlock& block) {
    Put32(out, block.ssrc);
    const int32_t lost = std::clamp<int32_t>(block.cumulativeLost, -0x800000, 0x7FFFFF);
    Put32(out, static_cast<uint32_t>(block.fractionLost) << 24 | (static_cast<uint32_t>(lost) & 0xFFFFFF));
    Put32(out, block.highestSequence);
    Put32(out, block.jitter);
    Put32(out, block.lastSenderReport);
    Put32(out, block.delaySinceLast);
}

TRtcpReportBlock ReadBlock(const uint8_t* p) {
    TRtcpReportBlock block;
    block.ssrc = Get32(p);
    block.fractionLost = p[4];
    uint32_t lost = Get32(p + 4) & 0xFFFFFF;
    if (lost & 0x800000)
        lost |= 0xFF000000;  // negative when duplicates outnumber losses
    block.cumulativeLost = static_cast<int32_t>(lost);
    block.highestSequence = Get32(p + 8);
    block.jitter = Get32(p + 12);
    block.lastSenderReport = Get32(p + 16);
    block.delaySinceLast = Get32(p + 20);
    return block;
}

}  // namespace

std::vector<uint8_t> ComposeRtcp(uint32_t ssrc, const std::optional<TRtcpSenderInfo>& sender,
                                 const std::optional<TRtcpReportBlock>& block, const std::string& cname) {
    std::vector<uint8_t> out;
    out.push_back(static_cast<uint8_t>(0x80 | (block ? 1 : 0)));
    out.push_back(sender ? kRtcpSenderReport : kRtcpReceiverReport);
    Put16(out, 0);
    Put32(out, ssrc);
    if (sender) {
        Put32(out, static_cast<uint32_t>(sender->ntp >> 32));
        Put32(out, static_cast<uint32_t>(sender->ntp));
        Put32(out, sender->rtpTimestamp);
        Put32(out, sender->packets);
        Put32(out, sender->octets);
    }
    if (block)
        PutBlock(out, *block);
    CloseLength(out, 0);

    const std::size_t start = out.size();
    out.push_back(0x81);  // one chunk
    out.push_back(kRtcpSourceDescription);
    Put16(out, 0);
    Put32(out, ssrc);
    const std::string name = cname.substr(0, 255);
    out.push_back(1);  // CNAME
    out.push_back(static_cast<uint8_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);  // end of the items, then padding to a word
    CloseLength(out, start);
    return out;
}

std::optional<TRtcpReceived> ParseRtcp(const uint8_t* data, std::size_t length, uint32_t ourSsrc) {
    TRtcpReceived received;
    bool first = true;
    std::size_t at = 0;
    while (at + 4 <= length) {
        const uint8_t* p = data + at;
        if ((p[0] >> 6) != 2)
            return std::nullopt;
        const std::size_t size = (static_cast<std::size_t>(p[2] << 8 | p[3]) + 1) * 4;
        if (at + size > length)
            return std::nullopt;
        const uint8_t type = p[1];
        const int count = p[0] & 0x1F;
        if (first && type != kRtcpSenderReport && type != kRtcpReceiverReport)
            return std::nullopt;
        first = false;
        if ((type == kRtcpSenderReport || type == kRtcpReceiverReport) && size >= 8) {
            received.ssrc = Get32(p + 4);
            std::size_t blocks = 8;
            if (type == kRtcpSenderReport) {
                if (size < 28)
                    return std::nullopt;
                received.senderNtp = static_cast<uint64_t>(Get32(p + 8)) << 32 | Get32(p + 12);
                blocks = 28;
            }
            for (int index = 0; index < count && blocks + 24 <= size; ++index, blocks += 24) {
                const TRtcpReportBlock block = ReadBlock(p + blocks);
                if (block.ssrc == ourSsrc)
                    received.aboutUs = block;
            }
        }
        at += size;
    }
    if (first)
        return std::nullopt;
    return received;
}

std::optional<double> RoundTripMs(const TRtcpReportBlock& block, uint64_t arrival) {
    if (block.lastSenderReport == 0)
        return std::nullopt;
    const uint32_t elapsed = NtpMiddle(arrival) - block.lastSenderReport - block.delaySinceLast;
    if (elapsed > 0x7FFFFFFF)
        return std::nullopt;  // negative: clocks or figures that do not add up
    return elapsed * 1000.0 / 65536.0;
}

uint64_t NtpNow() {
    using namespace std::chrono;
    constexpr uint64_t kUnixToNtp = 2208988800ULL;
    const auto since = system_clock::now().time_since_epoch();
    const auto seconds = duration_cast<std::chrono::seconds>(since);
    const auto fraction = duration_cast<nanoseconds>(since - seconds).count();
    return (static_cast<uint64_t>(seconds.count()) + kUnixToNtp) << 32 |
           (static_cast<uint64_t>(fraction) << 32) / 1000000000ULL;
}

}  // namespace media
