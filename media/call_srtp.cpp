#include "media/call_srtp.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace media {

void TCallSrtp::SetPlain() {
    std::lock_guard<std::mutex> keying(KeyingLock_);
    TSessionPtr outbound, inbound;  // freed once the locks are let go
    std::scoped_lock guard(Outbound_.lock, Inbound_.lock);
    Mode_ = TMode::Plain;
    outbound = std::move(Outbound_.session);
    inbound = std::move(Inbound_.session);
}

void TCallSrtp::SetWaiting() {
    std::lock_guard<std::mutex> keying(KeyingLock_);
    std::scoped_lock guard(Outbound_.lock, Inbound_.lock);
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
    std::lock_guard<std::mutex> keying(KeyingLock_);
    // New sessions are made (keys derived) before the packets' locks are
    // taken, so media waits only for the exchange.
    const bool keyed = Mode() == TMode::Keyed;
    TSessionPtr outbound, inbound;
    if (!keyed || !(local == LocalKey_))
        outbound = std::make_unique<TSrtpSession>(suite, local.keySalt, TSrtpSession::TDirection::Outbound);
    if (!keyed || !(remote == RemoteKey_))
        inbound = std::make_unique<TSrtpSession>(suite, remote.keySalt, TSrtpSession::TDirection::Inbound);
    {
        std::scoped_lock guard(Outbound_.lock, Inbound_.lock);
        if (outbound)
            std::swap(Outbound_.session, outbound);
        if (inbound)
            std::swap(Inbound_.session, inbound);
        Mode_ = TMode::Keyed;
    }
    LocalKey_ = local;
    RemoteKey_ = remote;
}

TCallSrtp::TMode TCallSrtp::Mode() const {
    std::lock_guard<std::mutex> guard(Outbound_.lock);
    return Mode_;
}

TCallSrtp::TOutgoing TCallSrtp::ProtectRtp(std::span<const uint8_t> packet, TSrtpBuffer& buffer) {
    return Protect(packet, buffer, false);
}

std::span<const uint8_t> TCallSrtp::ProtectRtcp(std::span<const uint8_t> packet, TSrtpBuffer& buffer) {
    return Protect(packet, buffer, true).datagram;
}

TCallSrtp::TOutgoing TCallSrtp::Protect(std::span<const uint8_t> packet, TSrtpBuffer& buffer, bool control) {
    std::lock_guard<std::mutex> guard(Outbound_.lock);
    switch (Mode_) {
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
    const auto length = control ? Outbound_.session->ProtectRtcp(buffer.data(), packet.size(), buffer.size())
                                : Outbound_.session->ProtectRtp(buffer.data(), packet.size(), buffer.size());
    if (!length)
        return {{}, true};  // this number went out already: it is spent
    return {std::span<const uint8_t>(buffer.data(), *length), true};
}

TCallSrtp::TReceived TCallSrtp::UnprotectRtp(std::span<const uint8_t> datagram, TSrtpBuffer& buffer) {
    return Unprotect(datagram, buffer, false);
}

TCallSrtp::TReceived TCallSrtp::UnprotectRtcp(std::span<const uint8_t> datagram, TSrtpBuffer& buffer) {
    return Unprotect(datagram, buffer, true);
}

TCallSrtp::TReceived TCallSrtp::Unprotect(std::span<const uint8_t> datagram, TSrtpBuffer& buffer, bool control) {
    TSrtpRefusal refusal = TSrtpRefusal::None;
    std::size_t length = 0;
    {
        std::lock_guard<std::mutex> guard(Inbound_.lock);
        switch (Mode_) {
        case TMode::Plain:
            return datagram;
        case TMode::Waiting:
            ++DroppedWithoutKeys_;
            return std::nullopt;
        case TMode::Keyed:
            break;
        }
        if (datagram.size() > buffer.size()) {
            refusal = TSrtpRefusal::Malformed;
        } else {
            std::memcpy(buffer.data(), datagram.data(), datagram.size());
            const auto result = control ? Inbound_.session->UnprotectRtcp(buffer.data(), datagram.size())
                                        : Inbound_.session->UnprotectRtp(buffer.data(), datagram.size());
            refusal = result.refusal;
            length = result.length;
        }
    }
    if (refusal != TSrtpRefusal::None) {
        Count(refusal);
        return std::nullopt;
    }
    return std::span<const uint8_t>(buffer.data(), length);
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
