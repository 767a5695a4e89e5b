#include "media/keypad_tones.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "audio_test_util.h"
#include "media/wav_format.h"

namespace media {
namespace {

TEST(KeypadTones, EachItemIsItsKeysPairAtNearFullScaleThenSilence) {
    const std::vector<double> all = {697, 770, 852, 941, 1209, 1336, 1477};
    for (int item = 1; item <= kKeypadToneCount; ++item) {
        const std::string& wav = KeypadToneWav(item);
        ASSERT_EQ(wav.size(), 44u + 5600u);
        EXPECT_EQ(wav.substr(0, 44), MakePcmWavHeader(1, 8000, 16, 5600));
        const std::vector<int16_t> s = media_test::SamplesOf(wav.substr(44));
        const std::vector<int16_t> tone(s.begin(), s.begin() + 2400);
        const auto [low, high] = KeypadToneFrequencies(item);
        EXPECT_EQ(media_test::StrongestOf(tone, {697, 770, 852, 941}), low) << item;
        EXPECT_EQ(media_test::StrongestOf(tone, {1209, 1336, 1477}), high) << item;
        for (double f : all) {
            if (f != low && f != high) {
                EXPECT_LT(media_test::TonePower(tone, f), media_test::TonePower(tone, low) / 100);
            }
        }
        const auto peak = std::max_element(tone.begin(), tone.end(), [](int a, int b) {
            return std::abs(a) < std::abs(b);
        });
        EXPECT_GT(std::abs(*peak), 32000) << item;
        EXPECT_TRUE(std::all_of(s.begin() + 2400, s.end(), [](int16_t x) { return x == 0; }));
    }
}

TEST(KeypadTones, KeysMapToItems) {
    EXPECT_EQ(KeypadToneItem('1'), 1);
    EXPECT_EQ(KeypadToneItem('9'), 9);
    EXPECT_EQ(KeypadToneItem('0'), 10);
    EXPECT_EQ(KeypadToneItem('*'), 11);
    EXPECT_EQ(KeypadToneItem('#'), 12);
    EXPECT_EQ(KeypadToneItem('A'), 0);
    EXPECT_EQ(KeypadToneItem('\0'), 0);
    EXPECT_EQ(KeypadToneFrequencies(12).low, 941);
    EXPECT_EQ(KeypadToneFrequencies(12).high, 1477);
    EXPECT_EQ(KeypadToneFrequencies(10).high, 1336);
    EXPECT_THROW(KeypadToneWav(0), std::out_of_range);
    EXPECT_THROW(KeypadToneWav(13), std::out_of_range);
}

}  // namespace
}  // namespace media
