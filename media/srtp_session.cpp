#include "media/srtp_session.h"

#include "media/srtp_openssl_crypto.h"
#include "media/srtp_rtp_transform.h"

#include <array>
#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

#include <srtp2/srtp.h>

namespace media {

namespace {

std::atomic<TSrtpCrypto> ChosenCrypto{TSrtpCrypto::OpenSsl};

// libsrtp keeps process-wide tables (its cipher and auth types); they are
// set up once, by whichever call is keyed first, and live as long as the
// process. Its AES-CM and HMAC-SHA1 are ours, on OpenSSL, from before the
// first session.
void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        const srtp_err_status_t status = srtp_init();
        if (status != srtp_err_status_ok)
            throw std::runtime_error("SRTP library failed to start (" + std::to_string(status) + ")");
        if (ChosenCrypto == TSrtpCrypto::OpenSsl) UseOpenSslSrtpCrypto();
    });
}

}  // namespace

void ChooseSrtpCrypto(TSrtpCrypto crypto) { ChosenCrypto = crypto; }

namespace {

TSrtpRefusal RefusalOf(srtp_err_status_t status) {
    switch (status) {
    case srtp_err_status_ok:
        return TSrtpRefusal::None;
    case srtp_err_status_auth_fail:
        return TSrtpRefusal::Authentication;
    case srtp_err_status_replay_fail:
    case srtp_err_status_replay_old:
        return TSrtpRefusal::Replay;
    default:
        return TSrtpRefusal::Malformed;
    }
}

// libsrtp takes lengths as int and assumes the packet fits in its buffer.
bool FitsInt(std::size_t length) { return length <= static_cast<std::size_t>(INT_MAX); }

static_assert(kSrtpMaxGrowth >= SRTP_MAX_TRAILER_LEN + 4, "room for libsrtp's trailer and the SRTCP index");

}  // namespace

struct TSrtpSession::TContext {
    srtp_t session = nullptr;     // SRTCP, and RTP when libsrtp runs it
    std::optional<TSrtpRtpTransform> rtp;  // RTP when the agent runs it
    ~TContext() {
        if (session)
            srtp_dealloc(session);
    }
};

TSrtpSession::TSrtpSession(TSrtpSuite suite, std::span<const uint8_t> keySalt, TDirection direction,
                           TSrtpRtpCode rtpCode)
    : Direction_(direction), Context_(std::make_unique<TContext>()) {
    if (keySalt.size() != kSrtpKeySaltBytes)
        throw std::runtime_error("SRTP key and salt must be " + std::to_string(kSrtpKeySaltBytes) + " bytes");
    InitLibrary();
    srtp_policy_t policy;
    std::memset(&policy, 0, sizeof policy);
    if (suite == TSrtpSuite::AesCm128HmacSha1_80)
        srtp_crypto_policy_set_aes_cm_128_hmac_sha1_80(&policy.rtp);
    else
        srtp_crypto_policy_set_aes_cm_128_hmac_sha1_32(&policy.rtp);
    srtp_crypto_policy_set_rtcp_default(&policy.rtcp);
    policy.ssrc.type = direction == TDirection::Outbound ? ssrc_any_outbound : ssrc_any_inbound;
    // libsrtp copies the key during srtp_create; the copy here lives only
    // until then.
    std::array<uint8_t, kSrtpKeySaltBytes> key;
    std::memcpy(key.data(), keySalt.data(), key.size());
    policy.key = key.data();
    policy.window_size = 128;
    // A sequence number is never sent twice with different payloads: the
    // sender counts a number used once it has been protected.
    policy.allow_repeat_tx = 0;
    policy.next = nullptr;
    const srtp_err_status_t status = srtp_create(&Context_->session, &policy);
    explicit_bzero(key.data(), key.size());
    if (status != srtp_err_status_ok) {
        Context_->session = nullptr;
        throw std::runtime_error("SRTP session refused (" + std::to_string(status) + ")");
    }
    if (rtpCode == TSrtpRtpCode::Agent && ChosenCrypto == TSrtpCrypto::OpenSsl)
        Context_->rtp.emplace(suite, keySalt);
}

TSrtpSession::~TSrtpSession() = default;

std::optional<std::size_t> TSrtpSession::ProtectRtp(uint8_t* packet, std::size_t length, std::size_t capacity) {
    if (Direction_ != TDirection::Outbound || capacity < length + kSrtpMaxGrowth || !FitsInt(length))
        return std::nullopt;
    if (Context_->rtp)
        return Context_->rtp->Protect(packet, length, capacity);
    int size = static_cast<int>(length);
    if (srtp_protect(Context_->session, packet, &size) != srtp_err_status_ok)
        return std::nullopt;
    return static_cast<std::size_t>(size);
}

std::optional<std::size_t> TSrtpSession::ProtectRtcp(uint8_t* packet, std::size_t length, std::size_t capacity) {
    if (Direction_ != TDirection::Outbound || capacity < length + kSrtpMaxGrowth || !FitsInt(length))
        return std::nullopt;
    int size = static_cast<int>(length);
    if (srtp_protect_rtcp(Context_->session, packet, &size) != srtp_err_status_ok)
        return std::nullopt;
    return static_cast<std::size_t>(size);
}

TSrtpSession::TUnprotected TSrtpSession::UnprotectRtp(uint8_t* packet, std::size_t length) {
    // Shorter than a header and the shortest tag: nothing libsrtp should see.
    if (Direction_ != TDirection::Inbound || length < 12 + 4 || !FitsInt(length))
        return {0, TSrtpRefusal::Malformed};
    if (Context_->rtp)
        return Context_->rtp->Unprotect(packet, length);
    int size = static_cast<int>(length);
    const TSrtpRefusal refusal = RefusalOf(srtp_unprotect(Context_->session, packet, &size));
    return {refusal == TSrtpRefusal::None ? static_cast<std::size_t>(size) : 0, refusal};
}

TSrtpSession::TUnprotected TSrtpSession::UnprotectRtcp(uint8_t* packet, std::size_t length) {
    // A report header, the SRTCP index and the 80-bit tag at the least.
    if (Direction_ != TDirection::Inbound || length < 8 + 4 + 10 || !FitsInt(length))
        return {0, TSrtpRefusal::Malformed};
    int size = static_cast<int>(length);
    const TSrtpRefusal refusal = RefusalOf(srtp_unprotect_rtcp(Context_->session, packet, &size));
    return {refusal == TSrtpRefusal::None ? static_cast<std::size_t>(size) : 0, refusal};
}

}  // namespace media
