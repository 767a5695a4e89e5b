#include "media/telephone_event.h"

#include <memory>
#include <string>

#include "media/keypad_tones.h"
#include "media/wav.h"

namespace media {

int TelephoneEventOf(char key) {
    if (key >= '0' && key <= '9')
        return key - '0';
    if (key == '*')
        return 10;
    if (key == '#')
        return 11;
    return -1;
}

void WriteTelephoneEvent(uint8_t* payload, int event, int packetNumber) {
    const int duration = 160 * packetNumber;
    payload[0] = static_cast<uint8_t>(event);
    payload[1] = packetNumber >= kEventPacketsPerDigit ? 0x8A : 0x0A;
    payload[2] = static_cast<uint8_t>(duration >> 8);
    payload[3] = static_cast<uint8_t>(duration);
}

std::optional<TTelephoneEvent> ReadTelephoneEvent(const uint8_t* payload, std::size_t length) {
    if (length < kTelephoneEventBytes)
        return std::nullopt;
    return TTelephoneEvent{payload[0], (payload[1] & 0x80) != 0, payload[1] & 0x3F,
                           (payload[2] << 8) | payload[3]};
}

bool PlayKeypadTone(ISipCall& call, char key) {
    const int item = KeypadToneItem(key);
    if (item == 0)
        return false;
    auto tone = std::make_shared<TWavStream>(KeypadToneWav(item));
    tone->SetPosition(0);
    call.PlayWav(std::move(tone));
    return true;
}

void SendKeypadDigit(ISipEngine& engine, const ISipCallPtr& call, TDtmfMethod method, char key) {
    switch (method) {
    case dtmfInBand:
        PlayKeypadTone(*call, key);
        break;
    case dtmfRFC2833:
        engine.SendDtmfRfc2833(call, std::string(1, key));
        break;
    case dtmfSipInfo:
        engine.SendDtmfInfo(call, key);
        break;
    }
}

}  // namespace media
