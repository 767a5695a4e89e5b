#include "media/wav.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "audio_test_util.h"
#include "media/keypad_tones.h"
#include "media/speech.h"
#include "media/wav_format.h"

namespace media {
namespace {

using media_test::BytesOf;
using media_test::SamplesOf;
namespace fs = std::filesystem;

class WavFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) /
               ("wav_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return path.string();
    }
    static std::string ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string Content(IWavFile& wav) {
        std::string bytes(static_cast<size_t>(wav.GetSize()), '\0');
        wav.SetPosition(0);
        EXPECT_EQ(wav.Read(bytes.data(), int(bytes.size())), int(bytes.size()));
        return bytes;
    }

    fs::path dir_;
};

TEST(WavStream, KeypadToneHasSizeOf17FramesAndSomeBytes) {
    TWavStream tone(KeypadToneWav(12));
    EXPECT_EQ(tone.GetSize(), 5600);
    tone.SetPosition(0);
    std::array<char, 320> frame{};
    int frames = 0;
    while (tone.GetSize() - tone.GetPosition() >= 320) {
        ASSERT_EQ(tone.Read(frame.data(), 320), 320);
        ++frames;
    }
    EXPECT_EQ(frames, 17);
    EXPECT_EQ(tone.Read(frame.data(), 320), 160);  // the remainder
    EXPECT_EQ(tone.Read(frame.data(), 320), 0);
}

TEST(WavStream, PositionIsClampedAndReadsStopAtTheEnd) {
    TWavStream tone(KeypadToneWav(1));
    tone.SetPosition(-10);
    EXPECT_EQ(tone.GetPosition(), 0);
    tone.SetPosition(1 << 30);
    EXPECT_EQ(tone.GetPosition(), 5600);
    tone.SetPosition(5590);
    std::array<char, 64> buffer{};
    EXPECT_EQ(tone.Read(buffer.data(), 64), 10);
    EXPECT_EQ(tone.Read(buffer.data(), -1), 0);
    EXPECT_EQ(tone.GetPosition(), 5600);
}

TEST_F(WavFileTest, EightKilohertzFileIsTakenOverByteForByte) {
    std::string data;
    for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7));
    const std::string path = Write("a.wav", MakePcmWavHeader(1, 8000, 16, 1000) + data);
    TWavFile wav(path);
    EXPECT_EQ(Content(wav), data);
}

TEST_F(WavFileTest, NamesSeparatedByDoubleSemicolonAreAppendedInOrder) {
    const std::string a = Write("a.wav", MakePcmWavHeader(1, 8000, 16, 4) + "AAAA");
    const std::string b = Write("b.wav", MakePcmWavHeader(1, 8000, 16, 6) + "BBBBBB");
    TWavFile wav(a + ";;" + b + ",");
    EXPECT_EQ(Content(wav), "AAAABBBBBB");
    EXPECT_EQ(SplitFileNames(",x;;y,,z;"), (std::vector<std::string>{"x", "y", "z"}));
}

TEST_F(WavFileTest, MissingFileRaisesAnErrorNamingIt) {
    const std::string good = Write("a.wav", MakePcmWavHeader(1, 8000, 16, 4) + "AAAA");
    try {
        TWavFile wav(good + ";" + (dir_ / "absent.wav").string());
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("absent.wav"), std::string::npos) << e.what();
    }
}

// A stereo file with a different tone on each side: both must be heard, at
// the right pitch and half level, and neither garbled into the other.
TEST_F(WavFileTest, StereoFileIsMixedDownAndResampled) {
    const std::vector<int16_t> left = media_test::Sine(500, 44100, 16000, 44100);
    const std::vector<int16_t> right = media_test::Sine(1500, 44100, 16000, 44100);
    std::vector<int16_t> interleaved;
    for (size_t i = 0; i < left.size(); ++i) {
        interleaved.push_back(left[i]);
        interleaved.push_back(right[i]);
    }
    const std::string bytes = BytesOf(interleaved);
    TWavFile wav(Write("s.wav", MakePcmWavHeader(2, 44100, 16, uint32_t(bytes.size())) + bytes));
    const std::vector<int16_t> mono = SamplesOf(Content(wav));
    EXPECT_NEAR(double(mono.size()), 8000, 8);
    const std::vector<int16_t> middle(mono.begin() + 1000, mono.begin() + 7000);
    const double expected = media_test::TonePower(media_test::Sine(500, 6000, 8000), 500);
    EXPECT_NEAR(media_test::TonePower(middle, 500), expected, expected * 0.1);
    EXPECT_NEAR(media_test::TonePower(middle, 1500), expected, expected * 0.1);
    EXPECT_LT(media_test::TonePower(middle, 1000), expected * 0.001);
}

TEST_F(WavFileTest, OtherWidthsAndEncodingsAreConverted) {
    // 8-bit unsigned at 16 kHz: a 400 Hz tone.
    std::string u8;
    for (const int16_t s : media_test::Sine(400, 16000, 20000, 16000)) {
        u8.push_back(static_cast<char>((s >> 8) + 128));
    }
    TWavFile wav8(Write("u8.wav", MakePcmWavHeader(1, 16000, 8, uint32_t(u8.size())) + u8));
    const std::vector<int16_t> out = SamplesOf(Content(wav8));
    EXPECT_NEAR(double(out.size()), 8000, 8);
    EXPECT_EQ(media_test::StrongestOf(out, {200, 400, 800, 1600}), 400);
}

TEST_F(WavFileTest, FileWithoutRiffHeaderIsTakenAsRawTelephonyPcm) {
    const std::string raw = "\x01\x02\x03\x04\x05";  // odd tail byte dropped
    TWavFile wav(Write("x.raw", raw));
    EXPECT_EQ(Content(wav), raw.substr(0, 4));
}

TEST_F(WavFileTest, TruncatedAndMalformedFilesGiveShorterOrEmptySources) {
    const std::string tone = KeypadToneWav(4);
    TWavFile cut(Write("cut.wav", tone.substr(0, 44 + 1000)));
    EXPECT_EQ(cut.GetSize(), 1000);
    TWavFile headerOnly(Write("h.wav", tone.substr(0, 30)));
    EXPECT_EQ(headerOnly.GetSize(), 0);
    TWavFile empty(Write("e.wav", ""));
    EXPECT_EQ(empty.GetSize(), 0);
}

TEST_F(WavFileTest, SaveWritesGsmHeaderAndWholeBlocksThenClears) {
    const std::string pcm(1000, '\x10');
    const std::string path = Write("in.raw", pcm);
    TWavFile wav(path);
    const std::string out = (dir_ / "out.wav").string();
    wav.SaveToFile(out);
    const std::string saved = ReadAll(out);
    ASSERT_EQ(saved.size(), 48u + 65u);
    std::string header = "RIFF";
    AppendLe32(header, 105);
    header += "WAVEfmt ";
    AppendLe32(header, 20);
    header += std::string("\x31\0\x01\0\x40\x1f\0\0\x59\x06\0\0\x41\0\0\0\x02\0\x40\x01", 20);
    header += "data";
    AppendLe32(header, 65);
    EXPECT_EQ(saved.substr(0, 48), header);
    EXPECT_EQ(wav.GetSize(), 0);
    EXPECT_THROW(wav.SaveToFile((dir_ / "no" / "such" / "dir.wav").string()), std::runtime_error);
}

TEST_F(WavFileTest, SavedGsmFileLoadsBackAsTheSameTone) {
    TWavStream tone(KeypadToneWav(9));
    const std::string out = (dir_ / "tone.wav").string();
    tone.SaveToFile(out);
    TWavFile back(out);
    EXPECT_EQ(back.GetSize(), 5120);  // 8 whole blocks of 640 bytes
    const std::vector<int16_t> original = SamplesOf(KeypadToneWav(9).substr(44, 4800));
    const std::vector<int16_t> decoded = SamplesOf(Content(back).substr(0, 4800));
    EXPECT_GT(media_test::SnrDb(original, decoded), 5.0);
}

TEST(WavSpeech, SpokenTextGivesEightKilohertzSpeech) {
    ASSERT_GT(SpeechVoiceCount(), 0);
    auto wav = TWavStream::FromText("uno dos tres", 0);
    // About a second of speech: well over 0.3 s, well under 5 s of 8 kHz.
    EXPECT_GT(wav->GetSize(), 2 * 8000 * 3 / 10);
    EXPECT_LT(wav->GetSize(), 2 * 8000 * 5);
    const auto bad = TWavStream::FromText("hola", SpeechVoiceCount() + 5);
    EXPECT_EQ(bad->GetSize(), 0);
    EXPECT_EQ(TWavStream::FromText("hola", -1)->GetSize(), 0);
}

}  // namespace
}  // namespace media
