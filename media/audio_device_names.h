// Device names as the device lists show them and the lookup of a stored name.
#pragma once

#include <string>
#include <vector>

namespace media {

// Device lists hold names of at most this many characters.
inline constexpr size_t kDeviceNameLength = 31;

// One entry of a device list: the device number and its name.
struct TAudioDeviceName {
    int number = 0;
    std::string name;
};

// The first kDeviceNameLength characters of a UTF-8 name; a character is
// never split, so a cut name is still valid UTF-8.
std::string CutDeviceName(const std::string& name);

// The number of the first entry whose name equals `name` exactly (no case
// folding, no cut of `name` itself), or -1, the default device, when none
// does.
int FindDeviceByName(const std::vector<TAudioDeviceName>& devices, const std::string& name);

}  // namespace media
