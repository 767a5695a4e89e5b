// The interfaces of the user agent. Every object behind them is reference
// counted through std::shared_ptr; objects that must hand themselves out (a
// call raising an event about itself) derive from enable_shared_from_this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// ---------------------------------------------------------------------------
// Codecs
// ---------------------------------------------------------------------------

// One voice codec instance; every call owns its own so codec state is never
// shared between calls. Frames are 160 samples of 8 kHz mono 16-bit PCM.
class IAudioCodec {
public:
    virtual ~IAudioCodec() = default;

    // Samples per frame: 160 for every codec.
    virtual int GetFrameSize() = 0;
    // RTP payload type number.
    virtual int GetPayloadType() = 0;
    // Decodes `length` payload bytes into `pcm`; returns the PCM bytes written.
    virtual int Decode(const uint8_t* payload, int16_t* pcm, int length) = 0;
    // Encodes exactly 160 samples; returns the payload bytes written.
    virtual int Encode(const int16_t* pcm, uint8_t* payload) = 0;
};
using IAudioCodecPtr = std::shared_ptr<IAudioCodec>;

// ---------------------------------------------------------------------------
// Sound sources
// ---------------------------------------------------------------------------

// 8 kHz mono 16-bit PCM held in memory, read frame by frame into a call.
class IWavFile {
public:
    virtual ~IWavFile() = default;

    // Writes the content as a GSM 06.10 WAV file.
    virtual void SaveToFile(const std::string& fileName) = 0;
    // Current read position in bytes.
    virtual int64_t GetPosition() = 0;
    // Size of the PCM content in bytes.
    virtual int64_t GetSize() = 0;
    virtual void SetPosition(int64_t position) = 0;
    // Copies up to `count` bytes from the position, advances it, returns the
    // number copied.
    virtual int Read(void* buffer, int count) = 0;
};
using IWavFilePtr = std::shared_ptr<IWavFile>;

// The remaining interfaces of the user agent (engine, event sink, account,
// call, microphone, speaker, conference and recorder taps) follow below.
