// The project's own devices: file and null capture paced in real time, file
// and null playback consumed at the real-time rate, the WAV files they read
// and write.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "media/audio_file_devices.h"
#include "media/audio_wav_writer.h"
#include "media/wav_format.h"
#include "tests/media/audio_test_call.h"

using namespace std::chrono_literals;
using namespace media;

namespace {

std::string TempWav(const std::string& stem) {
    return ::testing::TempDir() + stem + "-" + std::to_string(getpid()) + ".wav";
}

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<int16_t> Samples(const std::string& bytes, size_t start) {
    std::vector<int16_t> samples((bytes.size() - start) / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[start + 2 * i]) |
                                          static_cast<uint8_t>(bytes[start + 2 * i + 1]) << 8);
    return samples;
}

// A ramp that never repeats within a frame and has no zero, so frames are
// told apart from silence and from one another.
std::vector<int16_t> Ramp(size_t count) {
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(1000 + (i % 20000));
    return samples;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

}  // namespace

TEST(AudioWavWriter, CanonicalHeaderWithSizesFixedOnClose) {
    const std::string name = TempWav("writer");
    const auto ramp = Ramp(1000);
    {
        TWavWriter writer(name);
        EXPECT_EQ(ReadFile(name), MakePcmWavHeader(1, 8000, 16, 0));  // readable while open
        writer.Write(ramp.data(), 600);
        writer.WriteSilence(10);
        writer.Write(ramp.data() + 600, 400);
    }
    const std::string bytes = ReadFile(name);
    ASSERT_EQ(bytes.size(), 44u + 2020u);
    EXPECT_EQ(bytes.substr(0, 44), MakePcmWavHeader(1, 8000, 16, 2020));
    const TWavFormat format = ParseWav(bytes);
    EXPECT_EQ(format.formatTag, kWavFormatPcm);
    EXPECT_EQ(format.sampleRate, 8000u);
    EXPECT_EQ(format.channels, 1);
    EXPECT_EQ(format.dataStart, 44u);
    EXPECT_EQ(format.dataSize, 2020u);
    const auto samples = Samples(bytes, 44);
    EXPECT_TRUE(std::equal(ramp.begin(), ramp.begin() + 600, samples.begin()));
    EXPECT_TRUE(std::all_of(samples.begin() + 600, samples.begin() + 610, [](int16_t s) { return s == 0; }));
    EXPECT_TRUE(std::equal(ramp.begin() + 600, ramp.end(), samples.begin() + 610));
    std::remove(name.c_str());
    EXPECT_THROW(TWavWriter("/nonexistent-folder/x.wav"), std::runtime_error);
}

TEST(AudioFileMicrophone, PlaysTheFileFrameByFrameThenSilence) {
    const std::string name = TempWav("source");
    const auto ramp = Ramp(5 * kFrameSamples + 40);  // five frames and a piece
    {
        TWavWriter writer(name);
        writer.Write(ramp.data(), ramp.size());
    }
    auto call = std::make_shared<TRecordingCall>();
    {
        TFileMicrophone microphone(name);
        EXPECT_TRUE(microphone.IsOpened());
        microphone.SetCall(call);
        EXPECT_EQ(microphone.GetCall(), call);
        ASSERT_TRUE(call->WaitForFrames(8, 20s));
        microphone.SetCall(nullptr);
    }
    std::remove(name.c_str());
    std::lock_guard<std::mutex> guard(call->Mutex);
    // Attached right after creation: the first frame is the file's first.
    for (size_t f = 0; f < 5; ++f) {
        const std::vector<int16_t> expected(ramp.begin() + static_cast<long>(f * kFrameSamples),
                                            ramp.begin() + static_cast<long>((f + 1) * kFrameSamples));
        EXPECT_EQ(call->Frames[f], expected) << f;
    }
    std::vector<int16_t> last(ramp.end() - 40, ramp.end());
    last.resize(kFrameSamples, 0);
    EXPECT_EQ(call->Frames[5], last);
    EXPECT_EQ(call->Frames[6], std::vector<int16_t>(kFrameSamples, 0));
}

TEST(AudioFileMicrophone, NullCaptureIsPacedAtFiftyFramesASecond) {
    auto call = std::make_shared<TRecordingCall>();
    TFileMicrophone microphone("");
    const auto start = std::chrono::steady_clock::now();
    microphone.SetCall(call);
    // A second's worth, however late a busy machine delivers it; pacing by
    // deadlines never delivers faster than one frame per period.
    ASSERT_TRUE(call->WaitForFrames(50, 20s));
    const size_t count = call->FrameCount();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LE(count, static_cast<size_t>(elapsed / kFramePeriod) + 1);
    std::lock_guard<std::mutex> guard(call->Mutex);
    for (const auto& frame : call->Frames)
        EXPECT_EQ(frame, std::vector<int16_t>(kFrameSamples, 0));
}

TEST(AudioFileMicrophone, FramesAreDeliveredAtTheEndOfTheirSpanOnTheTimeLine) {
    // Delay measurements place each captured sample on the device's time
    // line: frame k must never arrive before its 20 ms have passed.
    auto call = std::make_shared<TRecordingCall>();
    TFileMicrophone microphone("");
    microphone.SetCall(call);
    ASSERT_TRUE(call->WaitForFrames(10, 20s));
    microphone.SetCall(nullptr);
    const auto start = microphone.GetTimeLineStart();
    std::lock_guard<std::mutex> guard(call->Mutex);
    // Attached after creation, so the first recorded frame may be a later one:
    // find its index from its time, then check every frame against the grid.
    const auto first = (call->Times[0] - start) / kFramePeriod - 1;
    ASSERT_GE(first, 0);
    for (size_t f = 0; f < call->Times.size(); ++f) {
        const auto spanEnd = start + kFramePeriod * (first + 1 + static_cast<long>(f));
        EXPECT_GE(call->Times[f], spanEnd) << f;
        EXPECT_LT(call->Times[f], spanEnd + kFramePeriod) << f;  // never a whole period late here
    }
}

TEST(AudioFileMicrophone, DetachedCaptureGoesOnAndUnreadableFileThrows) {
    TFileMicrophone microphone("");
    std::this_thread::sleep_for(60ms);  // frames with no call are dropped
    auto call = std::make_shared<TRecordingCall>();
    microphone.SetCall(call);
    EXPECT_TRUE(call->WaitForFrames(2, 20s));
    EXPECT_THROW(TFileMicrophone("/nonexistent-folder/none.wav"), std::runtime_error);
}

TEST(AudioFileMicrophone, DroppedByItsCallDuringAFrame) {
    // The call lets go of the last reference to its microphone inside
    // SendAudioFrame, on the capture thread: no self-join, no use after free.
    auto call = std::make_shared<TRecordingCall>();
    std::shared_ptr<ISipMicrophone> held = std::make_shared<TFileMicrophone>("");
    std::mutex heldMutex;
    call->OnFrame = [&] {
        std::shared_ptr<ISipMicrophone> last;
        std::lock_guard<std::mutex> guard(heldMutex);
        last.swap(held);
    };
    {
        std::lock_guard<std::mutex> guard(heldMutex);
        held->SetCall(call);
    }
    ASSERT_TRUE(call->WaitForFrames(1, 20s));
    std::this_thread::sleep_for(100ms);  // the detached thread finishes
    EXPECT_EQ(call->FrameCount(), 1u);
    std::lock_guard<std::mutex> guard(heldMutex);
    EXPECT_EQ(held, nullptr);
}

TEST(AudioFileSpeaker, RecordsThePlayedFramesInOrderOnATimeLine) {
    const std::string name = TempWav("record");
    const auto ramp = Ramp(16 * kFrameSamples);
    {
        TFileSpeaker speaker(name);
        const auto handed = std::chrono::steady_clock::now();
        for (int f = 0; f < 16; ++f) speaker.Play(ramp.data() + f * kFrameSamples, kFrameBytes);
        EXPECT_FALSE(speaker.CanPlay());
        // Played at the real-time rate: one buffer back per 20 ms, so no more
        // back than periods have passed since they were handed over, however
        // late this thread looks.
        ASSERT_TRUE(WaitFor([&] { return speaker.CanPlay(); }, 20s));
        const int busy = speaker.GetBusyCount();
        const auto periods = static_cast<int>((std::chrono::steady_clock::now() - handed) / kFramePeriod);
        EXPECT_GE(busy, 16 - periods - 1);
        ASSERT_TRUE(WaitFor([&] { return speaker.GetBusyCount() == 0; }, 20s));
        std::this_thread::sleep_for(50ms);  // a silent period after them
    }
    const std::string bytes = ReadFile(name);
    std::remove(name.c_str());
    const TWavFormat format = ParseWav(bytes);
    ASSERT_EQ(format.dataStart, 44u);
    ASSERT_EQ(format.dataSize, bytes.size() - 44);
    EXPECT_EQ(bytes.substr(0, 44), MakePcmWavHeader(1, 8000, 16, static_cast<uint32_t>(format.dataSize)));
    const auto samples = Samples(bytes, 44);
    // Whole periods: silence, the sixteen frames back to back, silence.
    ASSERT_EQ(samples.size() % kFrameSamples, 0u);
    const auto first = std::find_if(samples.begin(), samples.end(), [](int16_t s) { return s != 0; });
    ASSERT_NE(first, samples.end());
    EXPECT_EQ((first - samples.begin()) % kFrameSamples, 0);
    ASSERT_GE(samples.end() - first, static_cast<long>(ramp.size() + kFrameSamples));
    EXPECT_TRUE(std::equal(ramp.begin(), ramp.end(), first));
    EXPECT_TRUE(std::all_of(first + static_cast<long>(ramp.size()), samples.end(), [](int16_t s) { return s == 0; }));
}

TEST(AudioFileSpeaker, FilePositionsMapToTheTimeTheyWereHeard) {
    // A frame handed over at time t starts playing at the next period
    // boundary; its place in the file gives that boundary on the time line.
    const std::string name = TempWav("timeline");
    const auto ramp = Ramp(kFrameSamples);
    TAudioClock::time_point start, handed;
    {
        TFileSpeaker speaker(name);
        start = speaker.GetTimeLineStart();
        std::this_thread::sleep_for(107ms);  // well inside some period
        handed = TAudioClock::now();
        speaker.Play(ramp.data(), kFrameBytes);
        ASSERT_TRUE(WaitFor([&] { return speaker.GetBusyCount() == 0; }, 20s));
    }
    const std::string bytes = ReadFile(name);
    std::remove(name.c_str());
    const auto samples = Samples(bytes, 44);
    const auto first = std::find(samples.begin(), samples.end(), ramp[0]);
    ASSERT_NE(first, samples.end());
    const auto heard = start + kFramePeriod + SamplesDuration(first - samples.begin());
    EXPECT_GE(heard, handed);
    EXPECT_LT(heard, handed + kFramePeriod * 2);  // the next boundary, a wake-up late at most
}

TEST(AudioFileSpeaker, NullSpeakerTakesFramesAtTheRealTimeRate) {
    TFileSpeaker speaker("");
    const auto frame = Ramp(kFrameSamples);
    // A receive path feeding while CanPlay holds until 25 frames have left
    // (half a second on a quiet machine; the ceiling is for a speaker that
    // never gives buffers back): never more than 16 held at once, and never
    // taken faster than real time.
    int taken = 0;
    const auto start = std::chrono::steady_clock::now();
    while (taken < 16 + 25 && std::chrono::steady_clock::now() - start < 20s) {
        while (speaker.CanPlay()) {
            speaker.Play(frame.data(), kFrameBytes);
            ++taken;
        }
        EXPECT_LE(speaker.GetBusyCount(), 16);
        std::this_thread::sleep_for(5ms);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(taken, 16 + 25);
    EXPECT_LE(taken, 16 + static_cast<int>(elapsed / kFramePeriod) + 1);
    EXPECT_THROW(TFileSpeaker("/nonexistent-folder/out.wav"), std::runtime_error);
}
