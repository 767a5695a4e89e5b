// A growing WAV file of 8000 Hz mono 16-bit PCM: the canonical 44-byte
// header is written first with zero sizes and fixed up when the file is
// closed, so a file cut short by a crash is still readable up to its header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace media {

class TWavWriter {
public:
    // Creates (or empties) the file; throws std::runtime_error naming it when
    // it cannot be created.
    explicit TWavWriter(const std::string& fileName);
    // Closes, fixing up the sizes.
    ~TWavWriter();
    TWavWriter(const TWavWriter&) = delete;
    TWavWriter& operator=(const TWavWriter&) = delete;

    void Write(const int16_t* samples, size_t count);
    void WriteSilence(size_t count);
    uint32_t GetDataBytes() const { return DataBytes_; }

private:
    struct TClose {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, TClose> File_;
    uint32_t DataBytes_ = 0;
};

}  // namespace media
