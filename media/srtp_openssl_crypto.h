// AES-128 in counter mode (SRTP's AES-CM, also its key derivation) and
// HMAC-SHA1 for libsrtp, in place of its own backend. libsrtp keeps the
// protocol of what it runs (key derivation, SRTCP, and RTP where the agent's
// own path is not used); only the two primitives it asks for per packet
// run here: the AES and SHA-1 blocks on
// the processor's instructions where it has them and on OpenSSL otherwise
// (media/aes128.h, media/sha1.h). Each context is set up once per
// session key and reused for every packet without allocating: the
// library's own backend on this platform took most of a call's SRTP time
// in locks and allocations of its crypto provider.
#pragma once

struct srtp_cipher_type_t;
struct srtp_auth_type_t;

namespace media {

// The two types as libsrtp takes them (for tests of the primitives alone).
const srtp_cipher_type_t& OpenSslAesCounterType();
const srtp_auth_type_t& OpenSslHmacSha1Type();

// Puts both types in place of libsrtp's own. Call after srtp_init and
// before the first srtp_create; libsrtp checks each type against known
// answers (RFC 3711 B.2 for AES-CM, RFC 2202 for HMAC-SHA1) before taking
// it. Throws std::runtime_error when it refuses either.
void UseOpenSslSrtpCrypto();

}  // namespace media
