// AES-128 blocks on each engine the machine can run: the published answers,
// and the two engines agreeing block for block where both run.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "media/aes128.h"

namespace media {
namespace {

using TBlock = std::array<uint8_t, 16>;

std::vector<TCryptoEngine> Engines() {
    std::vector<TCryptoEngine> engines{TCryptoEngine::OpenSsl};
    if (TAes128::ProcessorHasAes())
        engines.push_back(TCryptoEngine::Processor);
    return engines;
}

TEST(Aes128Test, EveryEngineGivesThePublishedCiphertexts) {
    struct TCase {
        const char* source;
        TBlock key, plain, cipher;
    };
    const TCase cases[] = {
        {"FIPS-197 C.1",
         {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f},
         {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
         {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30, 0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a}},
        {"SP 800-38A F.1.1 block 1",
         {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c},
         {0x6b, 0xc1, 0xbe, 0xe2, 0x2e, 0x40, 0x9f, 0x96, 0xe9, 0x3d, 0x7e, 0x11, 0x73, 0x93, 0x17, 0x2a},
         {0x3a, 0xd7, 0x7b, 0xb4, 0x0d, 0x7a, 0x36, 0x60, 0xa8, 0x9e, 0xca, 0xf3, 0x24, 0x66, 0xef, 0x97}},
        {"SP 800-38A F.1.1 block 4",
         {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c},
         {0xf6, 0x9f, 0x24, 0x45, 0xdf, 0x4f, 0x9b, 0x17, 0xad, 0x2b, 0x41, 0x7b, 0xe6, 0x6c, 0x37, 0x10},
         {0x7b, 0x0c, 0x78, 0x5e, 0x27, 0xe8, 0xad, 0x3f, 0x82, 0x23, 0x20, 0x71, 0x04, 0x72, 0x5d, 0xd4}},
    };
    for (const TCryptoEngine engine : Engines()) {
        for (const TCase& test : cases) {
            TAes128 aes(test.key, engine);
            EXPECT_EQ(aes.Engine(), engine);
            // The block alone, and third of three, so each block of a run
            // is encrypted on its own.
            TBlock block = test.plain;
            aes.EncryptBlocks(block.data(), 1);
            EXPECT_EQ(block, test.cipher) << test.source << " engine " << static_cast<int>(engine);
            std::vector<uint8_t> run(48, 0);
            std::copy(test.plain.begin(), test.plain.end(), run.begin() + 32);
            aes.EncryptBlocks(run.data(), 3);
            EXPECT_TRUE(std::equal(test.cipher.begin(), test.cipher.end(), run.begin() + 32)) << test.source;
        }
    }
}

TEST(Aes128Test, EnginesAgreeOnRandomKeysAndRuns) {
    if (!TAes128::ProcessorHasAes())
        GTEST_SKIP() << "no AES instructions on this processor";
    std::mt19937 random(29);
    for (int round = 0; round < 50; ++round) {
        TBlock key;
        for (uint8_t& byte : key)
            byte = static_cast<uint8_t>(random());
        const std::size_t blocks = 1 + random() % 70;
        std::vector<uint8_t> data(blocks * 16);
        for (uint8_t& byte : data)
            byte = static_cast<uint8_t>(random());
        std::vector<uint8_t> onProcessor = data, onOpenSsl = data;
        TAes128(key, TCryptoEngine::Processor).EncryptBlocks(onProcessor.data(), blocks);
        TAes128(key, TCryptoEngine::OpenSsl).EncryptBlocks(onOpenSsl.data(), blocks);
        ASSERT_EQ(onProcessor, onOpenSsl) << "round " << round;
        EXPECT_NE(onProcessor, data);
    }
}

}  // namespace
}  // namespace media
