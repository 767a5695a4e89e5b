// What the booth hears after an answer, written as a script of segments and
// fed frame by frame through A-law (as a route would deliver it): ringback
// cadences of several countries, spoken text, silence, line noise and no RTP
// at all. Each row names the flags raised, in order, with the second they
// came at when the audio makes it exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "media/answer_supervision.h"
#include "media/g711.h"
#include "media/speech.h"
#include "tests/media/audio_test_util.h"

namespace {

using media::TAnswerFlag;
using media::TAnswerSupervision;
using media::TAnswerSupervisionSettings;

constexpr int kFrame = 160;

std::vector<int16_t> Tone(const std::vector<double>& frequencies, int ms) {
    std::vector<int16_t> out(static_cast<size_t>(ms * 8));
    // -10 dBFS in all, the level of a tone played by an exchange.
    const double amplitude = 10000.0 / static_cast<double>(frequencies.size());
    for (size_t n = 0; n < out.size(); ++n) {
        double v = 0;
        for (const double f : frequencies) v += amplitude * std::sin(2 * std::numbers::pi * f * double(n) / 8000);
        out[n] = static_cast<int16_t>(std::lround(v));
    }
    return out;
}

std::vector<int16_t> Noise(double dbfs, int ms) {
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0, 32768 * std::pow(10, dbfs / 20));
    std::vector<int16_t> out(static_cast<size_t>(ms * 8));
    for (auto& sample : out) sample = static_cast<int16_t>(std::clamp(gauss(random), -32768.0, 32767.0));
    return out;
}

std::vector<int16_t> Spoken(const std::string& text) {
    static std::map<std::string, std::vector<int16_t>> spoken;
    auto& pcm = spoken[text];
    if (pcm.empty()) pcm = media::SpeakText(text, 0);
    return pcm;
}

const char kAnnouncement[] =
    "El número que usted ha marcado no se encuentra disponible. Por favor, intente más tarde.";
const char kConversation[] =
    "Hola, sí, habla Marta. Te escucho bien, contame cómo llegaste y cuándo volvés a casa.";

// One segment: "tone:425:1000", "tone:440+480:2000", "silence:3000",
// "noise:-60:3000", "say:hello", "say:announcement", "say:conversation",
// or "none:5000" (no RTP: only the clock ticks).
struct TSegment {
    bool rtp = true;
    std::vector<int16_t> pcm;
    int ms = 0;
};

TSegment Parse(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, ':');) parts.push_back(part);
    TSegment segment;
    if (parts[0] == "tone") {
        std::vector<double> frequencies;
        std::stringstream list(parts[1]);
        for (std::string f; std::getline(list, f, '+');) frequencies.push_back(std::stod(f));
        segment.pcm = Tone(frequencies, std::stoi(parts[2]));
    } else if (parts[0] == "silence") {
        segment.pcm.assign(static_cast<size_t>(std::stoi(parts[1]) * 8), 0);
    } else if (parts[0] == "noise") {
        segment.pcm = Noise(std::stod(parts[1]), std::stoi(parts[2]));
    } else if (parts[0] == "say") {
        segment.pcm = Spoken(parts[1] == "hello" ? "Hola" : parts[1] == "announcement" ? kAnnouncement : kConversation);
    } else {
        segment.rtp = false;
        segment.ms = std::stoi(parts[1]);
    }
    if (segment.rtp) segment.ms = static_cast<int>(segment.pcm.size() / 8);
    return segment;
}

std::string FlagName(TAnswerFlag flag, const TAnswerSupervision& supervision) {
    if (flag == TAnswerFlag::NoAudioFromDestination) return "dead";
    return supervision.Cause() == media::TFalseAnswerCause::Ringback ? "ringback" : "announcement";
}

struct TScript {
    const char* name;
    std::string segments;
    std::string flags;  // "ringback@5500 dead@5000"; a flag without "@" is checked by name only
    TAnswerSupervisionSettings settings{};
};

// Runs the script to 12 s after the answer (segments repeat to fill it).
std::string RunScript(const TScript& script, TAnswerSupervision& supervision) {
    std::vector<TSegment> segments;
    std::stringstream stream(script.segments);
    for (std::string word; stream >> word;) segments.push_back(Parse(word));
    std::string seen;
    auto note = [&](std::optional<TAnswerFlag> flag, std::int64_t at) {
        if (!flag) return;
        if (!seen.empty()) seen += ' ';
        seen += FlagName(*flag, supervision) + "@" + std::to_string(at);
    };
    std::int64_t at = 0;
    for (size_t i = 0; at < 12000; i = (i + 1) % segments.size()) {
        const TSegment& segment = segments[i];
        for (int done = 0; done + 20 <= segment.ms && at < 12000; done += 20) {
            at += 20;
            if (!segment.rtp) {
                note(supervision.Tick(at), at);
                continue;
            }
            std::vector<int16_t> frame(segment.pcm.begin() + done * 8, segment.pcm.begin() + done * 8 + kFrame);
            // Through A-law and back, as the route delivers it.
            for (auto& sample : frame) sample = media::AlawToLinear(media::LinearToAlaw(sample));
            note(supervision.Frame(frame, at), at);
        }
    }
    return seen;
}

// Drops the times of flags the script expects by name only.
std::string Compare(const std::string& expected, const std::string& seen) {
    std::stringstream want(expected), got(seen);
    std::string out;
    for (std::string w, g; want >> w;) {
        if (!(got >> g)) g.clear();
        if (w.find('@') == std::string::npos) g = g.substr(0, g.find('@'));
        out += (out.empty() ? "" : " ") + g;
    }
    for (std::string g; got >> g;) out += (out.empty() ? "" : " ") + g;
    return out;
}

}  // namespace

TEST(AnswerSupervision, FarEndScripts) {
    TAnswerSupervisionSettings patient;
    patient.ToneMs = 3000;
    const TScript scripts[] = {
        {"argentine ringback, 1 s on 4 s off", "tone:425:1000 silence:4000", "ringback@5500"},
        {"north american ringback, two tones", "tone:440+480:2000 silence:4000", "ringback@1500"},
        {"british ringback, double ring", "tone:400+450:400 silence:200 tone:400+450:400 silence:2000",
         "ringback@3900"},
        {"a tone setting of three seconds waits for the third ring", "tone:425:1000 silence:4000", "", patient},
        {"ringback heard from a late start", "none:2000 tone:425:1000 silence:4000", "ringback@9500"},
        {"beeps shorter than a ring", "tone:425:200 silence:300", ""},
        {"announcement then silence", "say:announcement silence:20000", "announcement"},
        {"announcement then no more RTP", "say:announcement none:20000", "announcement"},
        {"conversation", "say:conversation", ""},
        {"a hello, then waiting for the customer", "say:hello silence:20000", ""},
        {"no RTP at all", "none:20000", "dead@5000"},
        {"only silence", "silence:20000", "dead@5000"},
        {"line noise under the silence level", "noise:-60:20000", "dead@5000"},
        {"noise above it is sound", "noise:-30:20000", ""},
        {"RTP only after the dead-line time", "none:5500 say:conversation", "dead@5000"},
    };
    for (const TScript& script : scripts) {
        TAnswerSupervision supervision(script.settings);
        const std::string seen = RunScript(script, supervision);
        EXPECT_EQ(Compare(script.flags, seen), script.flags) << script.name << ": " << seen;
    }
}

// Nothing is judged after the watch: a route that plays ringback from the
// eleventh second on is a conversation that ended, not a false answer.
TEST(AnswerSupervision, NothingAfterTheWatch) {
    TAnswerSupervision supervision;
    const std::vector<int16_t> tone = Tone({425}, 20);
    for (std::int64_t at = 20; at <= 6000; at += 20) EXPECT_FALSE(supervision.Frame(Noise(-20, 20), at));
    for (std::int64_t at = 10020; at <= 20000; at += 20) EXPECT_FALSE(supervision.Frame(tone, at));
    EXPECT_FALSE(supervision.Tick(30000));
}

TEST(AnswerSupervision, LevelsAndToneFrames) {
    EXPECT_NEAR(media::FrameDbfs(Tone({1000}, 20)), 20 * std::log10(10000 / std::sqrt(2.0) / 32768), 0.1);
    EXPECT_EQ(media::FrameDbfs(std::vector<int16_t>(kFrame, 0)), -120.0);
    EXPECT_TRUE(media::IsRingbackToneFrame(Tone({425}, 20)));
    EXPECT_TRUE(media::IsRingbackToneFrame(Tone({350, 440}, 20)));
    // Keypad tones and a 1 kHz test tone are not ringback.
    EXPECT_FALSE(media::IsRingbackToneFrame(Tone({697, 1209}, 20)));
    EXPECT_FALSE(media::IsRingbackToneFrame(Tone({1000}, 20)));
    EXPECT_FALSE(media::IsRingbackToneFrame(Noise(-20, 20)));
    // Hardly any frame of real speech passes for a tone.
    const std::vector<int16_t> speech = Spoken(kConversation);
    int toneFrames = 0, frames = 0;
    for (size_t at = 0; at + kFrame <= speech.size(); at += kFrame, ++frames)
        toneFrames += media::IsRingbackToneFrame(std::span(speech).subspan(at, kFrame)) ? 1 : 0;
    EXPECT_LT(toneFrames * 20, frames) << toneFrames << " of " << frames;
}
