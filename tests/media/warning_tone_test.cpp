// The credit warning's WAV: its format, its length for each count of beeps,
// its pitch, and that neither the answer supervision nor a listener could
// take it for ringback.
#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <stdexcept>
#include <vector>

#include "media/answer_supervision.h"
#include "media/warning_tone.h"
#include "media/wav_format.h"
#include "tests/media/audio_test_util.h"

TEST(WarningTone, FormatLengthAndPitch) {
    for (int beeps = 1; beeps <= 5; ++beeps) {
        const std::string wav = media::WarningToneWav(beeps);
        const media::TWavFormat format = media::ParseWav(wav);
        ASSERT_EQ(format.formatTag, media::kWavFormatPcm);
        ASSERT_EQ(format.channels, 1);
        ASSERT_EQ(format.sampleRate, 8000u);
        ASSERT_EQ(format.bitsPerSample, 16);
        ASSERT_EQ(format.dataStart, 44u);
        ASSERT_EQ(format.dataSize, static_cast<size_t>(beeps * (200 + 150) * 16)) << beeps;
        std::vector<int16_t> pcm(format.dataSize / 2);
        std::memcpy(pcm.data(), wav.data() + format.dataStart, format.dataSize);

        // Inside the first beep: the pitch, a level near -12 dBFS peak, no ringback.
        const std::vector<int16_t> beep(pcm.begin() + 400, pcm.begin() + 560);
        EXPECT_EQ(media_test::StrongestOf(beep, {425, 440, 1000, 1400, 2000}), 1400);
        EXPECT_FALSE(media::IsRingbackToneFrame(beep));
        EXPECT_NEAR(media::FrameDbfs(beep), -15.0, 1.0);
        // The gap after each beep is silent, and the ramps keep the first
        // and last samples of a beep near zero.
        for (int b = 0; b < beeps; ++b) {
            const size_t start = static_cast<size_t>(b * 2800);
            EXPECT_LT(std::abs(pcm[start]), 50);
            EXPECT_LT(std::abs(pcm[start + 1599]), 150);
            EXPECT_EQ(media::FrameDbfs(std::span(pcm).subspan(start + 1600, 1200)), -120.0);
        }
    }
    EXPECT_THROW(media::WarningToneWav(0), std::out_of_range);
    EXPECT_THROW(media::WarningToneWav(6), std::out_of_range);
}
