#include "media/speech.h"

#include <espeak-ng/speak_lib.h>

#include <mutex>
#include <stdexcept>

#include "media/resampler.h"

namespace media {
namespace {

// espeak-ng keeps one global synthesiser: every use goes through this lock,
// and it is initialised once, on first use.
std::mutex& SpeechMutex() {
    static std::mutex mutex;
    return mutex;
}

struct TCollector {
    std::vector<float> samples;
};

int Collect(short* wave, int count, espeak_EVENT* events) {
    if (!wave || count <= 0 || !events) return 0;
    auto* collector = static_cast<TCollector*>(events->user_data);
    if (!collector) return 0;
    for (int i = 0; i < count; ++i) collector->samples.push_back(wave[i] / 32768.0f);
    return 0;  // go on
}

// The synthesiser's native rate; throws when it cannot start.
int NativeRate() {
    static const int rate = [] {
        const int r = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr,
                                        espeakINITIALIZE_DONT_EXIT);
        if (r > 0) espeak_SetSynthCallback(Collect);
        return r;
    }();
    if (rate <= 0) throw std::runtime_error("The speech synthesiser cannot start");
    return rate;
}

const espeak_VOICE* VoiceAt(int index) {
    if (index < 0) return nullptr;
    const espeak_VOICE** voices = espeak_ListVoices(nullptr);
    for (int i = 0; voices && voices[i]; ++i) {
        if (i == index) return voices[i];
    }
    return nullptr;
}

}  // namespace

int SpeechVoiceCount() {
    std::lock_guard lock(SpeechMutex());
    try {
        NativeRate();
    } catch (const std::runtime_error&) {
        return 0;
    }
    int count = 0;
    for (const espeak_VOICE** v = espeak_ListVoices(nullptr); v && v[count];) ++count;
    return count;
}

std::vector<int16_t> SpeakText(const std::string& text, int voiceIndex) {
    std::lock_guard lock(SpeechMutex());
    const int rate = NativeRate();
    const espeak_VOICE* voice = VoiceAt(voiceIndex);
    if (!voice) throw std::runtime_error("No speech voice " + std::to_string(voiceIndex));
    if (espeak_SetVoiceByName(voice->name) != EE_OK) {
        throw std::runtime_error(std::string("Cannot select the speech voice ") + voice->name);
    }
    espeak_SetParameter(espeakRATE, espeakRATE_NORMAL, 0);
    TCollector collector;
    const espeak_ERROR result = espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                             espeakCHARS_UTF8, nullptr, &collector);
    if (result != EE_OK) throw std::runtime_error("Speech synthesis failed");
    std::vector<int16_t> pcm;
    TResampler resampler(rate);
    resampler.Push(collector.samples.data(), collector.samples.size(), true, pcm);
    return pcm;
}

}  // namespace media
