#include "media/audio_device_names.h"

namespace media {

std::string CutDeviceName(const std::string& name) {
    size_t characters = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        // Continuation bytes (10xxxxxx) belong to the character before them.
        if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80)
            continue;
        if (characters == kDeviceNameLength)
            return name.substr(0, i);
        ++characters;
    }
    return name;
}

int FindDeviceByName(const std::vector<TAudioDeviceName>& devices, const std::string& name) {
    for (const TAudioDeviceName& device : devices) {
        if (device.name == name)
            return device.number;
    }
    return -1;
}

}  // namespace media
