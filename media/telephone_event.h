// RFC 2833 telephone events as the call writes and reads them, and
// the in-band way of sending a keypad digit (the key's tone played as the
// call's WAV source).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sip/sipints.h"

namespace media {

inline constexpr std::size_t kTelephoneEventBytes = 4;
// Packets per digit; the last carries the end bit and goes out three times.
inline constexpr int kEventPacketsPerDigit = 9;
inline constexpr int kEventEndCopies = 2;

// Event number of a keypad character: 0-9, 10 for "*", 11 for "#"; -1 for any
// other character (those are skipped by the send path).
int TelephoneEventOf(char key);

// Writes the 4-byte payload of packet `packetNumber` (1..9) of the digit.
void WriteTelephoneEvent(uint8_t* payload, int event, int packetNumber);

struct TTelephoneEvent {
    int event;
    bool end;
    int volume;
    int duration;
};
// Reads a received payload; nothing when it is shorter than 4 bytes.
std::optional<TTelephoneEvent> ReadTelephoneEvent(const uint8_t* payload, std::size_t length);

// The in-band method: opens the key's tone (resources 1-9, 10 for "0", 11
// for "*", 12 for "#"), rewinds it and plays it into the call with PlayWav.
// Other characters play nothing; returns whether a tone was started.
bool PlayKeypadTone(ISipCall& call, char key);

// Sends one keypad character by the given method: in band, as telephone
// events (the engine's SendDtmfRfc2833) or by SIP INFO (SendDtmfInfo).
void SendKeypadDigit(ISipEngine& engine, const ISipCallPtr& call, TDtmfMethod method, char key);

}  // namespace media
