// The AES-CM and HMAC-SHA1 types libsrtp runs on OpenSSL: the keystream of
// RFC 3711 B.2 (its first and last blocks before the 16-bit block counter
// would wrap), HMAC-SHA1 restarting per packet, and a whole packet through
// libsrtp from the master key of RFC 3711 B.3, which only comes out right
// when its key derivation ran on our AES-CM.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include <srtp2/auth.h>
#include <srtp2/cipher.h>

#include "media/srtp_openssl_crypto.h"
#include "media/srtp_session.h"

namespace media {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) { return {values.begin(), values.end()}; }

TEST(SrtpOpenSslCrypto, AesCounterGivesTheKeystreamOfRfc3711B2) {
    const srtp_cipher_type_t& type = OpenSslAesCounterType();
    srtp_cipher_t* cipher = nullptr;
    ASSERT_EQ(type.alloc(&cipher, 30, 0), srtp_err_status_ok);
    EXPECT_EQ(type.alloc(nullptr, 16, 0), srtp_err_status_bad_param);  // a key without its salt
    const std::array<uint8_t, 30> keySalt = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7,
                                             0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c, 0xf0, 0xf1, 0xf2, 0xf3,
                                             0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd};
    ASSERT_EQ(type.init(cipher->state, keySalt.data()), srtp_err_status_ok);
    std::array<uint8_t, 16> iv{};

    // A packet's worth first, so the next IV must start the stream afresh.
    std::vector<uint8_t> stream(5);
    unsigned int length = static_cast<unsigned int>(stream.size());
    ASSERT_EQ(type.set_iv(cipher->state, iv.data(), srtp_direction_encrypt), srtp_err_status_ok);
    ASSERT_EQ(type.encrypt(cipher->state, stream.data(), &length), srtp_err_status_ok);

    stream.assign(0xff02 * 16, 0);
    length = static_cast<unsigned int>(stream.size());
    ASSERT_EQ(type.set_iv(cipher->state, iv.data(), srtp_direction_encrypt), srtp_err_status_ok);
    ASSERT_EQ(type.encrypt(cipher->state, stream.data(), &length), srtp_err_status_ok);
    ASSERT_EQ(length, stream.size());
    struct TBlock {
        std::size_t counter;
        std::vector<uint8_t> keystream;
    };
    const TBlock blocks[] = {
        {0x0000, Bytes({0xe0, 0x3e, 0xad, 0x09, 0x35, 0xc9, 0x5e, 0x80, 0xe1, 0x66, 0xb1, 0x6d, 0xd9, 0x2b, 0x4e, 0xb4})},
        {0x0001, Bytes({0xd2, 0x35, 0x13, 0x16, 0x2b, 0x02, 0xd0, 0xf7, 0x2a, 0x43, 0xa2, 0xfe, 0x4a, 0x5f, 0x97, 0xab})},
        {0x0002, Bytes({0x41, 0xe9, 0x5b, 0x3b, 0xb0, 0xa2, 0xe8, 0xdd, 0x47, 0x79, 0x01, 0xe4, 0xfc, 0xa8, 0x94, 0xc0})},
        {0xfeff, Bytes({0xec, 0x8c, 0xdf, 0x73, 0x98, 0x60, 0x7c, 0xb0, 0xf2, 0xd2, 0x16, 0x75, 0xea, 0x9e, 0xa1, 0xe4})},
        {0xff00, Bytes({0x36, 0x2b, 0x7c, 0x3c, 0x67, 0x73, 0x51, 0x63, 0x18, 0xa0, 0x77, 0xd7, 0xfc, 0x50, 0x73, 0xae})},
        {0xff01, Bytes({0x6a, 0x2c, 0xc3, 0x78, 0x78, 0x89, 0x37, 0x4f, 0xbe, 0xb4, 0xc8, 0x1b, 0x17, 0xba, 0x6c, 0x44})},
    };
    for (const TBlock& block : blocks) {
        const auto at = stream.begin() + static_cast<std::ptrdiff_t>(block.counter * 16);
        EXPECT_EQ(std::vector<uint8_t>(at, at + 16), block.keystream) << std::hex << block.counter;
    }
    EXPECT_EQ(type.dealloc(cipher), srtp_err_status_ok);
}

// libsrtp may take a keystream in several calls after one IV (its key
// derivation does): every split, inside a block or on its edge, must give
// the bytes one call gives, and a new IV must start afresh whatever a
// block left unused.
TEST(SrtpOpenSslCrypto, AesCounterKeystreamGoesOnAcrossCalls) {
    const srtp_cipher_type_t& type = OpenSslAesCounterType();
    srtp_cipher_t* cipher = nullptr;
    ASSERT_EQ(type.alloc(&cipher, 30, 0), srtp_err_status_ok);
    std::array<uint8_t, 30> keySalt{};
    for (std::size_t n = 0; n < keySalt.size(); ++n)
        keySalt[n] = static_cast<uint8_t>(0x40 + 3 * n);
    ASSERT_EQ(type.init(cipher->state, keySalt.data()), srtp_err_status_ok);
    std::array<uint8_t, 16> iv{};
    iv[4] = 0xde;  // an SSRC and a packet index, as libsrtp lays them
    iv[11] = 0x07;
    const auto keystream = [&](const std::vector<std::size_t>& pieces) {
        std::size_t total = 0;
        for (const std::size_t piece : pieces)
            total += piece;
        std::vector<uint8_t> stream(total, 0);
        EXPECT_EQ(type.set_iv(cipher->state, iv.data(), srtp_direction_encrypt), srtp_err_status_ok);
        std::size_t at = 0;
        for (const std::size_t piece : pieces) {
            unsigned int length = static_cast<unsigned int>(piece);
            EXPECT_EQ(type.encrypt(cipher->state, stream.data() + at, &length), srtp_err_status_ok);
            EXPECT_EQ(length, piece);
            at += piece;
        }
        return stream;
    };
    const std::vector<std::vector<std::size_t>> splits = {
        {1, 15, 16, 17, 3, 304}, {5, 5, 5, 5, 5, 5, 5, 321}, {16, 16, 16, 308}, {7, 249, 100}, {0, 356, 0}, {355, 1},
    };
    const std::vector<uint8_t> whole = keystream({356});
    EXPECT_EQ(whole.size(), 356u);
    for (const auto& split : splits) {
        EXPECT_EQ(keystream(split), whole) << split[0] << "," << split[1] << ",...";
        // A stream left inside a block, then a fresh IV.
        keystream({9});
        EXPECT_EQ(keystream({356}), whole);
    }
    EXPECT_EQ(type.dealloc(cipher), srtp_err_status_ok);
}

// RFC 2202 case 2, computed twice on one context (libsrtp restarts it per
// packet) and once fed in two pieces, as libsrtp feeds a packet and its
// rollover counter.
TEST(SrtpOpenSslCrypto, HmacSha1RestartsForEveryPacket) {
    const srtp_auth_type_t& type = OpenSslHmacSha1Type();
    srtp_auth_t* auth = nullptr;
    ASSERT_EQ(type.alloc(&auth, 4, 20), srtp_err_status_ok);
    const std::string key = "Jefe", data = "what do ya want for nothing?";
    const auto* text = reinterpret_cast<const uint8_t*>(data.data());
    const std::vector<uint8_t> expected = Bytes({0xef, 0xfc, 0xdf, 0x6a, 0xe5, 0xeb, 0x2f, 0xa2, 0xd2, 0x74,
                                                 0x16, 0xd5, 0xf1, 0x84, 0xdf, 0x9c, 0x25, 0x9a, 0x7c, 0x79});
    ASSERT_EQ(type.init(auth->state, reinterpret_cast<const uint8_t*>(key.data()), 4), srtp_err_status_ok);
    for (int round = 0; round < 2; ++round) {
        std::vector<uint8_t> tag(20);
        ASSERT_EQ(type.start(auth->state), srtp_err_status_ok);
        ASSERT_EQ(type.compute(auth->state, text, static_cast<int>(data.size()), 20, tag.data()), srtp_err_status_ok);
        EXPECT_EQ(tag, expected) << round;
    }
    std::vector<uint8_t> tag(10);
    ASSERT_EQ(type.start(auth->state), srtp_err_status_ok);
    ASSERT_EQ(type.update(auth->state, text, 10), srtp_err_status_ok);
    ASSERT_EQ(type.compute(auth->state, text + 10, static_cast<int>(data.size()) - 10, 10, tag.data()),
              srtp_err_status_ok);
    EXPECT_EQ(tag, std::vector<uint8_t>(expected.begin(), expected.begin() + 10));
    EXPECT_EQ(type.dealloc(auth), srtp_err_status_ok);
}

// The master key and salt of RFC 3711 B.3 give the session keys printed
// there; the expected packet was worked out from those keys with the
// openssl command line and Python's hmac, outside libsrtp.
TEST(SrtpOpenSslCrypto, PacketFromTheMasterKeyOfRfc3711B3) {
    const std::vector<uint8_t> masterKeySalt =
        Bytes({0xe1, 0xf9, 0x7a, 0x0d, 0x3e, 0x01, 0x8b, 0xe0, 0xd6, 0x4f, 0xa3, 0x2c, 0x06, 0xde, 0x41,
               0x39, 0x0e, 0xc6, 0x75, 0xad, 0x49, 0x8a, 0xfe, 0xeb, 0xb6, 0x96, 0x0b, 0x3a, 0xab, 0xe6});
    TSrtpSession out(TSrtpSuite::AesCm128HmacSha1_80, masterKeySalt, TSrtpSession::TDirection::Outbound);
    TSrtpSession in(TSrtpSuite::AesCm128HmacSha1_80, masterKeySalt, TSrtpSession::TDirection::Inbound);
    // Sequence 1, timestamp 0, SSRC deadbeef; 19 bytes of payload, so the
    // last keystream block is used in part.
    std::vector<uint8_t> packet = Bytes({0x80, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0xde, 0xad, 0xbe, 0xef});
    const std::string payload = "0123456789abcdefXYZ";
    packet.insert(packet.end(), payload.begin(), payload.end());
    const std::vector<uint8_t> plain = packet;
    packet.resize(plain.size() + kSrtpMaxGrowth);
    const auto protectedLength = out.ProtectRtp(packet.data(), plain.size(), packet.size());
    ASSERT_TRUE(protectedLength);
    packet.resize(*protectedLength);
    EXPECT_EQ(packet, Bytes({0x80, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0xde, 0xad, 0xbe, 0xef, 0x3a, 0x9c,
                             0xcb, 0x92, 0xb4, 0x39, 0x32, 0x5b, 0x68, 0x8b, 0x21, 0xdf, 0xa0, 0x77, 0xe7, 0x1a,
                             0x79, 0x1b, 0x0e, 0x55, 0xbe, 0x56, 0x9b, 0xc8, 0x21, 0xf8, 0x52, 0x52, 0xe2}));

    std::vector<uint8_t> tampered = packet;
    tampered.back() ^= 1;
    EXPECT_EQ(in.UnprotectRtp(tampered.data(), tampered.size()).refusal, TSrtpRefusal::Authentication);
    const auto opened = in.UnprotectRtp(packet.data(), packet.size());
    ASSERT_EQ(opened.refusal, TSrtpRefusal::None);
    packet.resize(opened.length);
    EXPECT_EQ(packet, plain);
}

}  // namespace
}  // namespace media
