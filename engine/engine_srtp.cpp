// SRTP keying of calls through their SDP (RFC 4568). The keys travel in the
// signalling, so they are offered and taken only where nobody on the way can
// read it; a call that asks for SRTP we cannot give is refused rather than
// carried in the clear, and an encrypted call stays encrypted.
#include <cstdlib>
#include <cstring>

#include "engine/engine.h"
#include "sip/sdp.h"
#include "sip/sdp_crypto.h"

bool SrtpOnPlainSignallingFromEnvironment() {
    const char* value = std::getenv("SOFTPHONE_DEV_SRTP_ON_UDP");
    return value && std::strcmp(value, "1") == 0;
}

// Keys go only where nobody on the way can read them: the account's TLS
// connection. Plain UDP and TCP carry them only under the developer switch.
bool TSipEngine::CallSignallingIsSecure(ISipAccount& account) const {
    return account.SignallingIsSecure() || Options_.srtpOnPlainSignalling;
}

void TSipEngine::OfferSrtpIfSecure(ISipCall& call) {
    const ISipAccountPtr account = call.GetAccount();
    if (!account || !CallSignallingIsSecure(*account) || call.GetCrypto().Wanted())
        return;
    TCallCrypto crypto;
    crypto.offered = NewCryptoOffer();
    call.SetCrypto(crypto);
}

std::optional<TCallCrypto> TSipEngine::CryptoForOffer(ISipCall& call, const TSdpAudio& offer) {
    const TCallCrypto current = call.GetCrypto();
    const ISipAccountPtr account = call.GetAccount();
    const bool secure = account && CallSignallingIsSecure(*account);
    if (offer.Secure())
        return secure ? AnswerOfferedCrypto(current, offer.crypto) : std::nullopt;
    // RTP/AVP with crypto attributes: encrypted when we can meet them, in
    // the clear otherwise, as the offerer allows; an encrypted call is never
    // taken back into the clear.
    std::optional<TCallCrypto> bestEffort =
        secure && !offer.crypto.empty() ? AnswerOfferedCrypto(current, offer.crypto) : std::nullopt;
    if (bestEffort) {
        bestEffort->bestEffort = true;
        return bestEffort;
    }
    return current.Agreed() ? std::nullopt : std::optional<TCallCrypto>(TCallCrypto{});
}

bool TSipEngine::TakeAnswerKeys(ISipCall& call, const TSdpAudio& answer) {
    const TCallCrypto current = call.GetCrypto();
    if (!answer.present || current.offered.empty())
        return true;  // nothing asked, or nothing answered yet
    if (!answer.Secure() && !current.bestEffort)
        return false;
    const std::optional<TCallCrypto> agreed = TakeAnsweredCrypto(current, answer.crypto);
    if (!agreed)
        return false;
    call.SetCrypto(*agreed);
    return true;
}
