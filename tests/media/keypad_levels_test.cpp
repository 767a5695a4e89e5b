// The detectors at the levels a real line carries: every key from 0 down to
// -25 dBFS per tone with up to 6 dB of twist, after G.711, found exactly once;
// spoken sentences (espeak-ng) and noise give no key; tones and speech keep a
// connected call from reporting silence while a quiet line reports it.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "media/codecs.h"
#include "media/dtmf_detector.h"
#include "media/speech.h"
#include "media/silence_detector.h"

using media::TKeypadToneDetector;

namespace {

constexpr int kFrame = 160;

int16_t Saturate(double value) {
    return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

// `ms` of a key at `rowDbfs` / `columnDbfs` per tone, in the middle of 100 ms
// of line noise at -60 dBFS on both sides.
std::vector<int16_t> KeyOnLine(char key, double rowDbfs, double columnDbfs, int ms, unsigned seed) {
    const std::string keys = "123456789*0#";
    const auto at = keys.find(key);
    const double row = TKeypadToneDetector::kRowHz[at / 3];
    const double column = TKeypadToneDetector::kColumnHz[at % 3];
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, 32767 * std::pow(10, -60 / 20.0) / std::sqrt(2));
    const int lead = 800, tone = ms * 8;
    std::vector<int16_t> pcm(static_cast<size_t>(2 * lead + tone));
    const double rowAmplitude = 32767 * std::pow(10, rowDbfs / 20), columnAmplitude = 32767 * std::pow(10, columnDbfs / 20);
    for (int n = 0; n < static_cast<int>(pcm.size()); ++n) {
        double value = noise(random);
        if (n >= lead && n < lead + tone) {
            const double t = (n - lead) / 8000.0;
            value += rowAmplitude * std::sin(2 * std::numbers::pi * row * t) +
                     columnAmplitude * std::sin(2 * std::numbers::pi * column * t + 1);
        }
        pcm[static_cast<size_t>(n)] = Saturate(value);
    }
    return pcm;
}

std::vector<int16_t> ThroughCodec(const std::vector<int16_t>& pcm, int payloadType) {
    const IAudioCodecPtr codec = media::CodecRegistry().Create(payloadType);
    std::vector<int16_t> out;
    for (size_t at = 0; at + kFrame <= pcm.size(); at += kFrame) {
        uint8_t payload[512];
        const int bytes = codec->Encode(pcm.data() + at, payload);
        int16_t frame[512];
        const int decoded = codec->Decode(payload, frame, bytes);
        out.insert(out.end(), frame, frame + decoded / 2);
    }
    return out;
}

// Keys as the receive path reports them: a result found in two frames in a
// row, once per run.
std::string Reported(const std::vector<int16_t>& pcm) {
    std::string reported;
    char previous = 0;
    bool done = false;
    for (size_t at = 0; at + kFrame <= pcm.size(); at += kFrame) {
        const char found = TKeypadToneDetector::Detect(pcm.data() + at);
        if (found != previous)
            done = false;
        if (found != 0 && found == previous && !done) {
            reported += found;
            done = true;
        }
        previous = found;
    }
    return reported;
}

struct TLevel {
    double rowDbfs;
    double columnDbfs;
};

class KeypadLevelsTest : public ::testing::TestWithParam<TLevel> {};

}  // namespace

TEST_P(KeypadLevelsTest, EveryKeyIsFoundOnceAfterG711) {
    const TLevel level = GetParam();
    unsigned seed = 1;
    for (char key : std::string("123456789*0#")) {
        for (int payloadType : {0, 8}) {
            const auto pcm = ThroughCodec(KeyOnLine(key, level.rowDbfs, level.columnDbfs, 100, seed++), payloadType);
            EXPECT_EQ(Reported(pcm), std::string(1, key))
                << key << " row " << level.rowDbfs << " column " << level.columnDbfs << " pt " << payloadType;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    LevelsAndTwist, KeypadLevelsTest,
    ::testing::Values(TLevel{0, 0}, TLevel{-6, -6}, TLevel{-3, -3}, TLevel{-10, -10}, TLevel{-20, -20}, TLevel{-25, -25},
                      TLevel{-10, -4}, TLevel{-4, -10}, TLevel{-25, -19}, TLevel{-19, -25}, TLevel{0, -6},
                      TLevel{-6, 0}),
    [](const auto& info) {
        return "Row" + std::to_string(static_cast<int>(-info.param.rowDbfs)) + "Column" +
               std::to_string(static_cast<int>(-info.param.columnDbfs));
    });

TEST(KeypadTalkOffTest, SpokenSentencesAndNoiseGiveNoKey) {
    if (media::SpeechVoiceCount() == 0)
        GTEST_SKIP() << "no speech voices installed";
    const char* sentences[] = {
        "Buenas tardes, quisiera hablar con el departamento de ventas, por favor.",
        "Seven, eight, nine, the quick brown fox jumps over the lazy dog at noon.",
        "Uno, dos, tres, cuatro, cinco, seis, siete, ocho, nueve, cero, numeral, asterisco.",
        "Hello? Hello, can you hear me? The line is very bad today, call me back later."};
    std::mt19937 random(5);
    int frames = 0;
    const int voices = std::min(media::SpeechVoiceCount(), 60);
    for (int voice = 0; voice < voices; voice += 15) {
        for (const char* sentence : sentences) {
            const auto speech = media::SpeakText(sentence, voice);
            for (double gain : {0.3, 1.0, 2.5}) {
                std::normal_distribution<double> noise(0, 200);
                std::vector<int16_t> pcm(speech.size());
                for (size_t n = 0; n < speech.size(); ++n)
                    pcm[n] = Saturate(speech[n] * gain + noise(random));
                frames += static_cast<int>(pcm.size() / kFrame);
                for (int payloadType : {0, 3})
                    EXPECT_EQ(Reported(ThroughCodec(pcm, payloadType)), "")
                        << "voice " << voice << " gain " << gain << " pt " << payloadType << ": " << sentence;
            }
        }
    }
    for (double sigma : {300.0, 3000.0, 12000.0}) {
        std::normal_distribution<double> white(0, sigma);
        std::vector<int16_t> pcm(8000 * 10);
        for (auto& s : pcm)
            s = Saturate(white(random));
        EXPECT_EQ(Reported(pcm), "") << "noise " << sigma;
    }
    EXPECT_GT(frames, 1000);
}

// The dial, ringback and busy tones of the countries the booths serve, and a
// keypad row or column alone: never a key, at any level a line carries,
// straight or through each codec.
TEST(KeypadTalkOffTest, CallProgressTonesGiveNoKey) {
    const std::vector<std::vector<double>> tones = {{425}, {440}, {350, 440}, {400, 450}, {480, 620},
                                                    {440, 480}, {697}, {941}, {1209}, {1477}};
    for (const auto& frequencies : tones) {
        for (double dbfs : {0.0, -6.0, -15.0, -25.0, -32.0}) {
            std::vector<int16_t> pcm(8000 * 2);
            const double amplitude = 32767 * std::pow(10, dbfs / 20) / static_cast<double>(frequencies.size());
            for (size_t n = 0; n < pcm.size(); ++n) {
                double value = 0;
                for (double hz : frequencies)
                    value += amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(n) / 8000.0);
                pcm[n] = Saturate(value);
            }
            const std::string name = std::to_string(static_cast<int>(frequencies[0])) +
                                     (frequencies.size() > 1 ? "+" + std::to_string(static_cast<int>(frequencies[1])) : "") +
                                     " Hz at " + std::to_string(static_cast<int>(dbfs)) + " dBFS";
            EXPECT_EQ(Reported(pcm), "") << name;
            for (int payloadType : {0, 8, 3})
                EXPECT_EQ(Reported(ThroughCodec(pcm, payloadType)), "") << name << " pt " << payloadType;
        }
    }
}

// The component's threshold, 500: which frames are silent.
TEST(SilenceLevelTest, TonesAndSpeechAreSoundAQuietLineIsSilent) {
    constexpr int kThreshold = 500;
    const auto silentFrames = [&](const std::vector<int16_t>& pcm) {
        int silent = 0;
        for (size_t at = 0; at + kFrame <= pcm.size(); at += kFrame)
            silent += media::TSilenceDetector::IsSilent(media::TSilenceDetector::Rms(pcm.data() + at, kFrame),
                                                        kThreshold)
                          ? 1
                          : 0;
        return silent;
    };
    // A continuous tone at RMS 0.17 of full scale, and keys at -25 dBFS.
    std::vector<int16_t> tone(8000);
    for (size_t n = 0; n < tone.size(); ++n)
        tone[n] = Saturate(0.17 * std::sqrt(2.0) * 32767 * std::sin(2 * std::numbers::pi * 1000 * n / 8000.0));
    EXPECT_EQ(silentFrames(tone), 0);
    const auto key = KeyOnLine('5', -25, -25, 400, 3);
    EXPECT_EQ(silentFrames(std::vector<int16_t>(key.begin() + 800, key.begin() + 800 + 3200)), 0);
    // A quiet line: hiss at -60 dBFS and the quiet frame's level.
    const auto hiss = KeyOnLine('5', -200, -200, 1000, 4);
    EXPECT_EQ(silentFrames(hiss), static_cast<int>(hiss.size()) / kFrame);
    if (media::SpeechVoiceCount() > 0) {
        // Speech leaves no stretch of a second without sound.
        const auto speech = media::SpeakText("Buenas tardes, le habla la central de reservas, en que puedo ayudarle.", 0);
        int run = 0, longest = 0;
        for (size_t at = 0; at + kFrame <= speech.size(); at += kFrame) {
            const bool silent =
                media::TSilenceDetector::IsSilent(media::TSilenceDetector::Rms(speech.data() + at, kFrame), kThreshold);
            run = silent ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        EXPECT_LT(longest, 50);
    }
}
