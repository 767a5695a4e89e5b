// Text rendered to speech by espeak-ng, in the working format (8000 samples
// per second, 16-bit, mono).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace media {

// Speaks `text` (UTF-8) with the voice of the given index among the installed
// voices, at the normal rate. Throws std::runtime_error when the synthesiser
// cannot start, the index names no voice, or synthesis fails.
std::vector<int16_t> SpeakText(const std::string& text, int voiceIndex);

// Number of installed voices; 0 when the synthesiser cannot start.
int SpeechVoiceCount();

}  // namespace media
