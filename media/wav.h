// Sound sources: 8 kHz mono 16-bit PCM held in memory and read frame by
// frame into a call.
//
// Threading: a call's capture thread reads while another thread may set the
// position; one mutex per source guards the content and the position.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sip/sipints.h"

namespace media {

class TWavSource : public IWavFile {
public:
    // Writes the content as a GSM 06.10 WAV file (whole 640-byte blocks only),
    // then clears the content. Throws std::runtime_error when the file cannot
    // be written.
    void SaveToFile(const std::string& fileName) override;
    int64_t GetPosition() override;
    int64_t GetSize() override;
    // Clamped to the content: [0, size].
    void SetPosition(int64_t position) override;
    int Read(void* buffer, int count) override;

protected:
    void Append(const std::vector<int16_t>& samples);

private:
    std::mutex mutex_;
    std::string content_;  // guarded by mutex_
    int64_t position_ = 0;  // guarded by mutex_
};

// A source made from the bytes of one WAV file held in memory (a keypad tone),
// or from text through the speech synthesiser.
class TWavStream : public TWavSource {
public:
    // The data chunk of a RIFF file (converted when it is not 8 kHz 16-bit
    // mono), or the bytes themselves when they carry no RIFF header.
    explicit TWavStream(std::string_view wavBytes);

    // Text spoken by the voice of the given index among the installed voices.
    // Any synthesiser error leaves the source empty.
    static std::shared_ptr<TWavStream> FromText(const std::string& text, int voiceIndex);

private:
    TWavStream() = default;
};

// A source loaded from one or more files, named in one text separated by ","
// or ";" (empty names skipped), converted and appended in order.
class TWavFile : public TWavSource {
public:
    // Throws std::runtime_error naming the file when one cannot be read.
    explicit TWavFile(const std::string& fileNames);
};

// Splits a list of file names at "," and ";", dropping empty names.
std::vector<std::string> SplitFileNames(const std::string& fileNames);

}  // namespace media
