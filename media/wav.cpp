#include "media/wav.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "media/pcm_convert.h"
#include "media/speech.h"
#include "media/wav_format.h"
#include "media/wav_gsm.h"

namespace media {
namespace {

std::string ReadWholeFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary | std::ios::ate);
    if (!in) {
        throw std::runtime_error("Cannot open file \"" + fileName + "\": " + std::strerror(errno));
    }
    const std::streamoff size = in.tellg();
    if (size < 0) throw std::runtime_error("Cannot read file \"" + fileName + "\"");
    std::string bytes(static_cast<size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size)) throw std::runtime_error("Cannot read file \"" + fileName + "\"");
    return bytes;
}

}  // namespace

void TWavSource::SaveToFile(const std::string& fileName) {
    std::lock_guard lock(mutex_);
    const std::string file = EncodeGsmWav(content_);
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) throw std::runtime_error("Cannot write file \"" + fileName + "\"");
    content_.clear();
    position_ = 0;
}

int64_t TWavSource::GetPosition() {
    std::lock_guard lock(mutex_);
    return position_;
}

int64_t TWavSource::GetSize() {
    std::lock_guard lock(mutex_);
    return static_cast<int64_t>(content_.size());
}

void TWavSource::SetPosition(int64_t position) {
    std::lock_guard lock(mutex_);
    position_ = std::clamp<int64_t>(position, 0, static_cast<int64_t>(content_.size()));
}

int TWavSource::Read(void* buffer, int count) {
    std::lock_guard lock(mutex_);
    const int64_t left = static_cast<int64_t>(content_.size()) - position_;
    const int taken = static_cast<int>(std::clamp<int64_t>(count, 0, std::max<int64_t>(left, 0)));
    if (taken > 0) std::memcpy(buffer, content_.data() + position_, static_cast<size_t>(taken));
    position_ += taken;
    return taken;
}

void TWavSource::Append(const std::vector<int16_t>& samples) {
    if (samples.empty()) return;
    std::lock_guard lock(mutex_);
    content_.append(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
}

TWavStream::TWavStream(std::string_view wavBytes) {
    std::vector<int16_t> pcm;
    AppendWorkingPcm(ParseWav(wavBytes), wavBytes, pcm);
    Append(pcm);
}

std::shared_ptr<TWavStream> TWavStream::FromText(const std::string& text, int voiceIndex) {
    std::shared_ptr<TWavStream> stream(new TWavStream());
    try {
        stream->Append(SpeakText(text, voiceIndex));
    } catch (const std::exception&) {
        // The source stays empty: the call reports the end of the sound at once.
    }
    return stream;
}

TWavFile::TWavFile(const std::string& fileNames) {
    std::vector<int16_t> pcm;
    for (const std::string& name : SplitFileNames(fileNames)) {
        const std::string bytes = ReadWholeFile(name);
        AppendWorkingPcm(ParseWav(bytes), bytes, pcm);
    }
    Append(pcm);
}

std::vector<std::string> SplitFileNames(const std::string& fileNames) {
    std::vector<std::string> names;
    std::string current;
    for (char c : fileNames) {
        if (c == ',' || c == ';') {
            if (!current.empty()) names.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) names.push_back(std::move(current));
    return names;
}

}  // namespace media
