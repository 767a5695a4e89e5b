// A call's SRTP keys: kept as the SDP named them, and handed to the
// transform its datagrams pass through.
#include "media/call.h"
#include "sip/sdp_crypto.h"

namespace {

media::TSrtpSuite SuiteOf(const std::string& name) {
    return name == kSrtpSuite32 ? media::TSrtpSuite::AesCm128HmacSha1_32 : media::TSrtpSuite::AesCm128HmacSha1_80;
}

}  // namespace

TCallCrypto TCall::GetCrypto() {
    std::lock_guard<std::mutex> guard(TextLock_);
    return Crypto_;
}

void TCall::SetCrypto(const TCallCrypto& value) {
    {
        std::lock_guard<std::mutex> guard(TextLock_);
        Crypto_ = value;
    }
    if (value.Agreed())
        Srtp_.SetKeys(SuiteOf(value.local->suite), value.local->keySalt, value.remote->keySalt);
    else if (value.Wanted())
        Srtp_.SetWaiting();
    else
        Srtp_.SetPlain();
}
