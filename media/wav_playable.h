// Whether a sound file can be played into a call, and why not: the reasons a
// file would otherwise play as silence (an encoding the converter does not
// take, no data) or hang the reader (a pipe or a device).
#pragma once

#include <string>

namespace media {

// Empty when every file named in `fileNames` (separated as for TWavFile)
// opens as a regular file and yields some audio; otherwise a text naming the
// first file that does not and the reason, e.g.
// "\"a.wav\": unsupported encoding (format 85)".
std::string UnplayableReason(const std::string& fileNames);

}  // namespace media
