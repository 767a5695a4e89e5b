// SHA-1 on each engine the machine can run: the published digests, fed in
// every way HMAC feeds it, and the two engines agreeing with OpenSSL's own
// one-shot digest over lengths around the block edges.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <random>
#include <string>
#include <vector>

#include "media/sha1.h"

namespace media {
namespace {

std::vector<TCryptoEngine> Engines() {
    std::vector<TCryptoEngine> engines{TCryptoEngine::OpenSsl};
    if (TSha1::ProcessorHasSha())
        engines.push_back(TCryptoEngine::Processor);
    return engines;
}

std::string Hex(const std::array<uint8_t, TSha1::kDigestBytes>& digest) {
    std::string text;
    for (const uint8_t byte : digest) {
        static const char digits[] = "0123456789abcdef";
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

TEST(Sha1Test, EveryEngineGivesThePublishedDigests) {
    struct TCase {
        std::string message;
        int repeat;
        const char* digest;
    };
    const TCase cases[] = {
        {"", 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {"a", 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const TCryptoEngine engine : Engines()) {
        for (const TCase& test : cases) {
            TSha1 sha(engine);
            EXPECT_EQ(sha.Engine(), engine);
            std::string message;
            for (int n = 0; n < test.repeat; ++n)
                message += test.message;
            // Fed in uneven pieces, as a packet and its rollover counter come.
            std::size_t at = 0;
            for (std::size_t piece = 1; at < message.size(); piece = piece * 3 + 1) {
                const std::size_t length = std::min(piece, message.size() - at);
                sha.Update(reinterpret_cast<const uint8_t*>(message.data()) + at, length);
                at += length;
            }
            EXPECT_EQ(Hex(sha.Final()), test.digest)
                << test.message.substr(0, 10) << " engine " << static_cast<int>(engine);
        }
    }
}

TEST(Sha1Test, EnginesAgreeWithOpenSslAroundTheBlockEdges) {
    std::mt19937 random(29);
    std::vector<uint8_t> data(300);
    for (uint8_t& byte : data)
        byte = static_cast<uint8_t>(random());
    for (std::size_t length = 0; length <= data.size(); ++length) {
        std::array<uint8_t, TSha1::kDigestBytes> expected;
        SHA1(data.data(), length, expected.data());
        for (const TCryptoEngine engine : Engines()) {
            TSha1 sha(engine);
            const std::size_t split = length / 3;
            sha.Update(data.data(), split);
            TSha1 copy = sha;  // the keyed state HMAC restarts from
            copy.Update(data.data() + split, length - split);
            sha.Update(data.data() + split, length - split);
            EXPECT_EQ(Hex(sha.Final()), Hex(expected)) << length << " engine " << static_cast<int>(engine);
            EXPECT_EQ(Hex(copy.Final()), Hex(expected)) << length;
        }
    }
}

}  // namespace
}  // namespace media
