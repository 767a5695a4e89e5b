// The keypad-tone detector: the twelve keys after G.711 and GSM, nothing in
// speech-like sound, noise or silence.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "media/codecs.h"
#include "media/dtmf_detector.h"
#include "media/keypad_tones.h"
#include "media/wav.h"
#include "tests/media/audio_test_util.h"

using media::TKeypadToneDetector;

namespace {

const char kKeys[] = "1234567890*#";

// The PCM of a keypad tone item (data chunk only).
std::vector<int16_t> TonePcm(int item) {
    media::TWavStream stream(media::KeypadToneWav(item));
    std::vector<int16_t> pcm(static_cast<size_t>(stream.GetSize() / 2));
    stream.Read(pcm.data(), static_cast<int>(pcm.size() * 2));
    return pcm;
}

// Runs the samples through a codec frame by frame (encode then decode).
std::vector<int16_t> Coded(const std::vector<int16_t>& pcm, int payloadType) {
    const IAudioCodecPtr codec = media::CodecRegistry().Create(payloadType);
    std::vector<int16_t> out;
    for (size_t at = 0; at + 160 <= pcm.size(); at += 160) {
        uint8_t payload[512];
        const int bytes = codec->Encode(pcm.data() + at, payload);
        int16_t frame[512];
        const int decoded = codec->Decode(payload, frame, bytes);
        out.insert(out.end(), frame, frame + decoded / 2);
    }
    return out;
}

// Detection results of every whole frame.
std::string DetectAll(const std::vector<int16_t>& pcm) {
    std::string found;
    for (size_t at = 0; at + 160 <= pcm.size(); at += 160) {
        const char c = TKeypadToneDetector::Detect(pcm.data() + at);
        if (c)
            found += c;
    }
    return found;
}

// Frames inside the tone part (300 ms = 15 frames) that found the key.
int FramesFinding(const std::vector<int16_t>& pcm, char key, size_t skipFrames = 0) {
    int count = 0;
    for (size_t frame = skipFrames; frame < 15; ++frame) {
        if ((frame + 1) * 160 > pcm.size())
            break;
        count += TKeypadToneDetector::Detect(pcm.data() + frame * 160) == key ? 1 : 0;
    }
    return count;
}

// A voiced, vowel-like sound: harmonics of a gliding pitch shaped by two
// formants, with a little noise.
std::vector<int16_t> SpeechLike(int samples, double pitch, double f1, double f2, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, 300);
    std::vector<int16_t> pcm(static_cast<size_t>(samples));
    double phase = 0;
    for (int n = 0; n < samples; ++n) {
        const double f0 = pitch * (1 + 0.15 * std::sin(2 * std::numbers::pi * n / 4000.0));
        phase += 2 * std::numbers::pi * f0 / 8000;
        double v = 0;
        for (int h = 1; h * f0 < 3800; ++h) {
            const double f = h * f0;
            const double gain = 1 / (1 + std::pow((f - f1) / 120, 2)) + 0.7 / (1 + std::pow((f - f2) / 150, 2)) +
                                0.05;
            v += gain * std::sin(h * phase);
        }
        pcm[static_cast<size_t>(n)] = static_cast<int16_t>(std::clamp(v * 4000 + noise(random), -32767.0, 32767.0));
    }
    return pcm;
}

}  // namespace

TEST(DtmfDetector, FindsAllTwelveCleanKeys) {
    for (int item = 1; item <= 12; ++item) {
        const char key = kKeys[item - 1];
        const auto pcm = TonePcm(item);
        EXPECT_EQ(FramesFinding(pcm, key), 15) << key;
        EXPECT_EQ(DetectAll(pcm), std::string(15, key)) << key;
    }
}

TEST(DtmfDetector, FindsAllTwelveKeysAfterG711) {
    for (int payloadType : {0, 8}) {
        for (int item = 1; item <= 12; ++item) {
            const char key = kKeys[item - 1];
            const auto pcm = Coded(TonePcm(item), payloadType);
            EXPECT_EQ(FramesFinding(pcm, key), 15) << key << " pt " << payloadType;
            EXPECT_EQ(DetectAll(pcm).find_first_not_of(key), std::string::npos) << key;
        }
    }
}

TEST(DtmfDetector, FindsAllTwelveKeysAfterGsm) {
    for (int item = 1; item <= 12; ++item) {
        const char key = kKeys[item - 1];
        const auto pcm = Coded(TonePcm(item), 3);
        // GSM delays by one frame and takes a frame to settle: at least ten of
        // the fifteen tone frames, and never another key.
        EXPECT_GE(FramesFinding(pcm, key), 10) << key;
        EXPECT_EQ(DetectAll(pcm).find_first_not_of(key), std::string::npos) << key << ": " << DetectAll(pcm);
    }
}

// A quieter copy of the keypad tones (-3 dB) is found in every frame.
TEST(DtmfDetector, QuieterKeysAreStillFound) {
    for (int item = 1; item <= 12; ++item) {
        auto pcm = TonePcm(item);
        for (auto& s : pcm)
            s = static_cast<int16_t>(s * 0.7);  // -3 dB
        EXPECT_EQ(FramesFinding(pcm, kKeys[item - 1]), 15) << kKeys[item - 1];
    }
}

TEST(DtmfDetector, SilenceGivesNothing) {
    std::vector<int16_t> zero(1600, 0);
    EXPECT_EQ(DetectAll(zero), "");
    std::vector<int16_t> quiet(1600);
    std::mt19937 random(1);
    std::uniform_int_distribution<int> small(-400, 400);
    for (auto& s : quiet)
        s = static_cast<int16_t>(small(random));
    EXPECT_EQ(DetectAll(quiet), "");
}

TEST(DtmfDetector, NoiseGivesNothing) {
    std::mt19937 random(7);
    for (double sigma : {1000.0, 4000.0, 10000.0}) {
        std::normal_distribution<double> white(0, sigma);
        std::vector<int16_t> pcm(8000 * 5);
        double brown = 0;
        for (auto& s : pcm)
            s = static_cast<int16_t>(std::clamp(white(random), -32767.0, 32767.0));
        EXPECT_EQ(DetectAll(pcm), "") << "white " << sigma;
        for (auto& s : pcm) {
            brown = 0.95 * brown + white(random) * 0.3;
            s = static_cast<int16_t>(std::clamp(brown, -32767.0, 32767.0));
        }
        EXPECT_EQ(DetectAll(pcm), "") << "red " << sigma;
    }
}

TEST(DtmfDetector, SpeechLikeSoundGivesNothing) {
    unsigned seed = 1;
    int frames = 0;
    for (double pitch : {95.0, 120.0, 140.0, 180.0, 220.0, 260.0}) {
        for (auto [f1, f2] : {std::pair{730.0, 1090.0}, {270.0, 2290.0}, {570.0, 840.0}, {660.0, 1720.0},
                              {300.0, 870.0}, {700.0, 1220.0}, {850.0, 1350.0}}) {
            const auto pcm = SpeechLike(8000, pitch, f1, f2, seed++);
            frames += static_cast<int>(pcm.size() / 160);
            EXPECT_EQ(DetectAll(pcm), "") << pitch << " " << f1 << " " << f2;
            EXPECT_EQ(DetectAll(Coded(pcm, 3)), "") << "gsm " << pitch << " " << f1 << " " << f2;
        }
    }
    EXPECT_GT(frames, 2000);
}

TEST(DtmfDetector, InvertedSamplesFindTheSameKeys) {
    // The sign of every sample counts: an inverted tone is the same tone.
    for (int item = 1; item <= 12; ++item) {
        auto pcm = TonePcm(item);
        for (auto& s : pcm)
            s = static_cast<int16_t>(-std::max<int>(s, -32767));
        EXPECT_EQ(FramesFinding(pcm, kKeys[item - 1]), 15) << kKeys[item - 1];
    }
}
