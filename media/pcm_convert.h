// Conversion of a parsed WAV file's data to the working format: 8000 samples
// per second, 16-bit, mono.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "media/wav_format.h"

namespace media {

// Returns the file's audio in the working format, appended to `out`.
// - GSM 06.10 blocks are decoded (a damaged block ends the data);
// - 8 kHz 16-bit mono PCM is taken over byte for byte;
// - other PCM (8/16/24/32-bit integer, 32-bit float, A-law, mu-law) is mixed
//   down to mono by averaging its channels and resampled;
// - bytes without a RIFF header are taken as 8 kHz 16-bit mono PCM, the form
//   of headerless telephony recordings;
// - anything else (no fmt or data chunk, zero channels, rate or width, an
//   unknown encoding) contributes nothing.
void AppendWorkingPcm(const TWavFormat& format, std::string_view fileBytes,
                      std::vector<int16_t>& out);

}  // namespace media
