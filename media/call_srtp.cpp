#include "media/call_srtp.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace media {

void TCallSrtp::SetPlain() {
    std::lock_guard<std::mutex> guard(Lock_);
    Mode_ = TMode::Plain;
    Outbound_.reset();
    Inbound_.reset();
}

void TCallSrtp::SetWaiting() {
    std::lock_guard<std::mutex> guard(Lock_);
    // Keys agreed before stay agreed: a re-offer of an encrypted call waits
    // for its answer with the media still flowing under the old keys.
    if (Mode_ != TMode::Keyed)
        Mode_ = TMode::Waiting;
}

void TCallSrtp::SetKeys(TSrtpSuite suite, std::span<const uint8_t> localKeySalt,
                        std::span<const uint8_t> remoteKeySalt) {
    if (localKeySalt.size() != kSrtpKeySaltBytes || remoteKeySalt.size() != kSrtpKeySaltBytes)
        throw std::runtime_error("SRTP keys must be 30 bytes of key and salt");
    TKey local{suite, {}}, remote{suite, {}};
    std::copy(localKeySalt.begin(), localKeySalt.end(), local.keySalt.begin());
    std::copy(remoteKeySalt.begin(), remoteKeySalt.end(), remote.keySalt.begin());
    std::lock_guard<std::mutex> guard(Lock_);
    if (!Outbound_ || !(local == LocalKey_))
        Outbound_ = std::make_shared<TSrtpSession>(suite, local.keySalt, TSrtpSession::TDirection::Outbound);
    if (!Inbound_ || !(remote == RemoteKey_))
        Inbound_ = std::make_shared<TSrtpSession>(suite, remote.keySalt, TSrtpSession::TDirection::Inbound);
    LocalKey_ = local;
    RemoteKey_ = remote;
    Mode_ = TMode::Keyed;
}

TCallSrtp::TMode TCallSrtp::Mode() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Mode_;
}

TCallSrtp::TMode TCallSrtp::Current(bool outbound, TSessionPtr& session) const {
    std::lock_guard<std::mutex> guard(Lock_);
    session = outbound ? Outbound_ : Inbound_;
    return Mode_;
}

TCallSrtp::TOutgoing TCallSrtp::ProtectRtp(std::span<const uint8_t> packet, TSrtpBuffer& buffer) {
    TSessionPtr session;
    switch (Current(true, session)) {
    case TMode::Plain:
        return {packet, false};
    case TMode::Waiting:
        return {};
    case TMode::Keyed:
        break;
    }
    if (packet.size() + kSrtpMaxGrowth > buffer.size())
        return {};
    std::memcpy(buffer.data(), packet.data(), packet.size());
    const auto length = session->ProtectRtp(buffer.data(), packet.size(), buffer.size());
    if (!length)
        return {{}, true};  // libsrtp saw this number already: it is spent
    return {std::span<const uint8_t>(buffer.data(), *length), true};
}

std::span<const uint8_t> TCallSrtp::ProtectRtcp(std::span<const uint8_t> packet, TSrtpBuffer& buffer) {
    TSessionPtr session;
    switch (Current(true, session)) {
    case TMode::Plain:
        return packet;
    case TMode::Waiting:
        return {};
    case TMode::Keyed:
        break;
    }
    if (packet.size() + kSrtpMaxGrowth > buffer.size())
        return {};
    std::memcpy(buffer.data(), packet.data(), packet.size());
    const auto length = session->ProtectRtcp(buffer.data(), packet.size(), buffer.size());
    return length ? std::span<const uint8_t>(buffer.data(), *length) : std::span<const uint8_t>();
}

TCallSrtp::TReceived TCallSrtp::UnprotectRtp(std::span<const uint8_t> datagram, TSrtpBuffer& buffer) {
    return Unprotect(datagram, buffer, false);
}

TCallSrtp::TReceived TCallSrtp::UnprotectRtcp(std::span<const uint8_t> datagram, TSrtpBuffer& buffer) {
    return Unprotect(datagram, buffer, true);
}

TCallSrtp::TReceived TCallSrtp::Unprotect(std::span<const uint8_t> datagram, TSrtpBuffer& buffer, bool control) {
    TSessionPtr session;
    switch (Current(false, session)) {
    case TMode::Plain:
        return datagram;
    case TMode::Waiting:
        ++DroppedWithoutKeys_;
        return std::nullopt;
    case TMode::Keyed:
        break;
    }
    if (datagram.size() > buffer.size()) {
        Count(TSrtpRefusal::Malformed);
        return std::nullopt;
    }
    std::memcpy(buffer.data(), datagram.data(), datagram.size());
    const auto result = control ? session->UnprotectRtcp(buffer.data(), datagram.size())
                                : session->UnprotectRtp(buffer.data(), datagram.size());
    if (result.refusal != TSrtpRefusal::None) {
        Count(result.refusal);
        return std::nullopt;
    }
    return std::span<const uint8_t>(buffer.data(), result.length);
}

void TCallSrtp::Count(TSrtpRefusal refusal) {
    switch (refusal) {
    case TSrtpRefusal::None:
        return;
    case TSrtpRefusal::Authentication:
        ++DroppedForAuthentication_;
        return;
    case TSrtpRefusal::Replay:
        ++DroppedForReplay_;
        return;
    case TSrtpRefusal::Malformed:
        ++DroppedMalformed_;
        return;
    }
}

}  // namespace media
