// Reads the files `play` names into the working format (8 kHz 16-bit mono)
// a second of audio at a time: the file itself is never held whole, only
// what the call will play.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TLoadedSound {
    std::vector<int16_t> samples;
    std::string error;  // names the first file that gave no audio
};

// `fileNames` separated by "," or ";", appended in order.
TLoadedSound LoadWorkingSound(const std::string& fileNames);
