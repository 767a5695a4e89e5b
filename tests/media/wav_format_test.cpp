#include "media/wav_format.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "media/keypad_tones.h"
#include "media/pcm_convert.h"
#include "media/wav.h"

namespace media {
namespace {

std::string Chunk(std::string_view id, const std::string& body, uint32_t claimedSize) {
    std::string c(id);
    AppendLe32(c, claimedSize);
    return c + body;
}

std::string Chunk(std::string_view id, const std::string& body) {
    return Chunk(id, body, static_cast<uint32_t>(body.size()));
}

std::string Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    std::string f;
    AppendLe16(f, tag);
    AppendLe16(f, channels);
    AppendLe32(f, rate);
    AppendLe32(f, rate * channels * bits / 8);
    AppendLe16(f, channels * bits / 8);
    AppendLe16(f, bits);
    return f;
}

std::string Riff(const std::string& chunks) {
    std::string r = "RIFF";
    AppendLe32(r, static_cast<uint32_t>(chunks.size() + 4));
    return r + "WAVE" + chunks;
}

TEST(WavFormat, CanonicalHeaderOfAKeypadTone) {
    const std::string& wav = KeypadToneWav(1);
    const TWavFormat f = ParseWav(wav);
    EXPECT_TRUE(f.hasFormat);
    EXPECT_EQ(f.formatTag, kWavFormatPcm);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.sampleRate, 8000u);
    EXPECT_EQ(f.bitsPerSample, 16);
    EXPECT_EQ(f.dataStart, 44u);
    EXPECT_EQ(f.dataSize, 5600u);
}

TEST(WavFormat, ChunkWalkSkipsOtherChunksIncludingUnpaddedOddOnes) {
    const std::string data(8, '\x11');
    // "LIST" of odd size written without its pad byte, as some tools do.
    const std::string unpadded = Riff(Chunk("fmt ", Fmt(1, 1, 8000, 16)) + Chunk("LIST", "abc") +
                                      Chunk("data", data));
    TWavFormat f = ParseWav(unpadded);
    ASSERT_TRUE(f.hasData);
    EXPECT_EQ(f.dataSize, 8u);
    EXPECT_EQ(unpadded.substr(f.dataStart), data);
    // The same with the pad byte that the RIFF rules ask for.
    const std::string padded = Riff(Chunk("fmt ", Fmt(1, 1, 8000, 16)) +
                                    Chunk("LIST", std::string("abc\0", 4), 3) + Chunk("data", data));
    f = ParseWav(padded);
    ASSERT_TRUE(f.hasData);
    EXPECT_EQ(padded.substr(f.dataStart), data);
}

TEST(WavFormat, ExtensibleFilesGiveTheirSubFormat) {
    std::string fmt = Fmt(0xFFFE, 2, 44100, 16);
    AppendLe16(fmt, 22);      // extra size
    AppendLe16(fmt, 16);      // valid bits
    AppendLe32(fmt, 3);       // channel mask
    AppendLe16(fmt, 1);       // sub-format: PCM
    fmt += std::string(14, '\0');
    const TWavFormat f = ParseWav(Riff(Chunk("fmt ", fmt) + Chunk("data", "xxxx")));
    EXPECT_EQ(f.formatTag, kWavFormatPcm);
    EXPECT_EQ(f.channels, 2);
}

TEST(WavFormat, BadHeadersAreCaughtWithoutReadingPastTheEnd) {
    const std::string fmt = Chunk("fmt ", Fmt(1, 1, 8000, 16));
    // A data chunk claiming nearly 4 GiB holds only what the file has.
    TWavFormat f = ParseWav(Riff(fmt + Chunk("data", "abcd", 0xFFFFFFF0u)));
    EXPECT_TRUE(f.hasData);
    EXPECT_EQ(f.dataSize, 4u);
    // A chunk before the data whose size runs past the end ends the walk.
    f = ParseWav(Riff(fmt + Chunk("junk", "abcd", 0xFFFFFFFFu) + Chunk("data", "abcd")));
    EXPECT_FALSE(f.hasData);
    // A fmt chunk shorter than 16 bytes is not a format.
    f = ParseWav(Riff(Chunk("fmt ", Fmt(1, 1, 8000, 16).substr(0, 12)) + Chunk("data", "ab")));
    EXPECT_FALSE(f.hasFormat);
    // A fmt chunk cut by the end of the file.
    f = ParseWav(Riff(Chunk("fmt ", Fmt(1, 1, 8000, 16).substr(0, 10), 16)));
    EXPECT_FALSE(f.hasFormat);
    // "RIFF" alone, or a header cut inside the first chunk header.
    EXPECT_FALSE(ParseWav("RIFF").hasData);
    EXPECT_FALSE(ParseWav(Riff("fmt ")).hasFormat);
}

TEST(WavFormat, BytesWithoutRiffAreAllData) {
    const TWavFormat f = ParseWav("RIFX1234");
    EXPECT_EQ(f.formatTag, kWavFormatNoRiff);
    EXPECT_EQ(f.dataStart, 0u);
    EXPECT_EQ(f.dataSize, 8u);
    EXPECT_EQ(ParseWav("").dataSize, 0u);
}

TEST(WavFormat, ZeroChannelsRateOrWidthContributeNothing) {
    const std::string data(320, '\x40');
    for (const std::string& fmt : {Fmt(1, 0, 8000, 16), Fmt(1, 1, 0, 16), Fmt(1, 1, 8000, 0),
                                   Fmt(1, 1, 22050, 12), Fmt(2, 1, 8000, 4),
                                   Fmt(49, 2, 8000, 0)}) {
        const std::string wav = Riff(Chunk("fmt ", fmt) + Chunk("data", data));
        std::vector<int16_t> pcm;
        AppendWorkingPcm(ParseWav(wav), wav, pcm);
        EXPECT_TRUE(pcm.empty());
    }
}

// Random damage to the headers of valid files of every kind the loader
// converts; run under the sanitizers, any read outside the buffer fails.
TEST(WavFormat, MutatedHeadersNeverCrash) {
    std::vector<std::string> seeds = {KeypadToneWav(3)};
    const std::string data(2000, '\x21');
    for (auto [tag, ch, rate, bits] : std::vector<std::tuple<int, int, int, int>>{
             {1, 2, 44100, 16}, {1, 1, 11025, 8}, {1, 2, 48000, 24}, {1, 1, 16000, 32},
             {3, 1, 22050, 32}, {6, 1, 8000, 8}, {7, 2, 8000, 8}}) {
        seeds.push_back(Riff(Chunk("fmt ", Fmt(uint16_t(tag), uint16_t(ch), uint32_t(rate),
                                               uint16_t(bits))) + Chunk("data", data)));
    }
    seeds.push_back(Riff(Chunk("fmt ", std::string("\x31\0\x01\0\x40\x1f\0\0\x59\x06\0\0\x41\0\0\0\x02\0\x40\x01", 20)) +
                         Chunk("data", std::string(650, '\x55'))));
    std::mt19937 random(1234);
    for (int round = 0; round < 3000; ++round) {
        std::string wav = seeds[random() % seeds.size()];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % std::min<size_t>(wav.size(), 64);
            wav[at] = static_cast<char>(random());
        }
        if (random() % 4 == 0) wav.resize(random() % wav.size());
        // A heap copy of exactly the file's size, so that AddressSanitizer
        // sees any read past its end.
        const std::vector<char> exact(wav.begin(), wav.end());
        const std::string_view bytes(exact.data(), exact.size());
        const TWavFormat f = ParseWav(bytes);
        ASSERT_LE(f.dataStart + f.dataSize, bytes.size());
        std::vector<int16_t> pcm;
        AppendWorkingPcm(f, bytes, pcm);
        ASSERT_LE(pcm.size(), 2000u * 256);
        TWavStream stream(bytes);
    }
}

}  // namespace
}  // namespace media
