// Sound files the command line is asked to play: each that cannot give any
// audio is named with its reason, and pipes or devices are never opened.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "media/wav_format.h"
#include "media/wav_playable.h"

namespace {

namespace fs = std::filesystem;

class WavPlayable : public ::testing::Test {
protected:
    fs::path Dir = fs::temp_directory_path() / ("wav_playable_" + std::to_string(getpid()));

    void SetUp() override { fs::create_directories(Dir); }
    void TearDown() override { fs::remove_all(Dir); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = Dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    // A RIFF file with a fmt chunk of `tag`, `bits`, `channels` and 8 kHz,
    // and `dataBytes` zero bytes of data.
    std::string Riff(const std::string& name, uint32_t tag, uint16_t bits, uint16_t channels,
                     uint32_t dataBytes) {
        std::string bytes = media::MakePcmWavHeader(channels, 8000, bits, dataBytes);
        bytes[20] = static_cast<char>(tag & 0xFF);
        bytes[21] = static_cast<char>(tag >> 8);
        return Write(name, bytes + std::string(dataBytes, '\0'));
    }
};

TEST_F(WavPlayable, ReasonsTable) {
    const std::string good = Riff("good.wav", 1, 16, 1, 3200);
    const std::string fifo = (Dir / "fifo.wav").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string noData = media::MakePcmWavHeader(1, 8000, 16, 0);
    noData.resize(36);  // the data chunk header cut off

    const struct {
        std::string names;
        std::string reason;  // expected start of the text; empty: playable
    } cases[] = {
        {good, ""},
        {good + ";" + Write("raw.pcm", std::string(320, '\1')), ""},
        {(Dir / "missing.wav").string(), "\"" + (Dir / "missing.wav").string() + "\": No such file"},
        {Dir.string(), "\"" + Dir.string() + "\": not a regular file"},
        {fifo, "\"" + fifo + "\": not a regular file"},
        {"/dev/zero", "\"/dev/zero\": not a regular file"},
        {Riff("mp3.wav", 85, 0, 1, 400), "\"" + (Dir / "mp3.wav").string() + "\": unsupported encoding (format 85"},
        {Riff("pcm12.wav", 1, 12, 1, 400), "\"" + (Dir / "pcm12.wav").string() + "\": unsupported encoding (format 1, 12 bits"},
        {Riff("empty.wav", 1, 16, 1, 0), "\"" + (Dir / "empty.wav").string() + "\": no audio in it"},
        {Write("nodata.wav", noData), "\"" + (Dir / "nodata.wav").string() + "\": no data chunk"},
        {Write("zero.wav", ""), "\"" + (Dir / "zero.wav").string() + "\": no audio in it"},
        {good + "," + fifo, "\"" + fifo + "\": not a regular file"},
        {",;", "no file named"},
    };
    for (const auto& c : cases) {
        const std::string reason = media::UnplayableReason(c.names);
        if (c.reason.empty()) {
            EXPECT_EQ(reason, "") << c.names;
        } else {
            EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << c.names << " gave " << reason;
        }
    }
}

}  // namespace
