// What `play` takes before any file is read whole: a RIFF/WAVE file whose
// sample rate is one a call can carry and whose sound is not longer than the
// operator's limit. Only the header is read.
#pragma once

#include <string>

// Empty when every file of `fileNames` (separated by "," or ";") is within
// bounds; otherwise why the first one is not, naming it.
std::string SoundOutOfBounds(const std::string& fileNames, int maxSeconds);
