// The sound commands: `play` checks its files before the call reads them,
// `say` speaks on the speech worker so the command loop never waits for the
// synthesiser.
#include <QMetaObject>

#include <stdexcept>
#include <string_view>

#include "media/speech.h"
#include "media/wav.h"
#include "media/wav_format.h"
#include "tools/softphone_cli/cli_agent.h"
#include "tools/softphone_cli/cli_sound_bounds.h"
#include "tools/softphone_cli/cli_sound_loader.h"

namespace {

// UTF-8 characters: every byte that does not continue a sequence.
std::size_t CharacterCount(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    return count;
}

// A WAV file's bytes in the working format, as a call's sound source takes them.
std::string WorkingWav(const std::vector<int16_t>& samples) {
    const auto bytes = static_cast<uint32_t>(samples.size() * sizeof(int16_t));
    std::string wav = media::MakePcmWavHeader(1, 8000, 16, bytes);
    wav.append(reinterpret_cast<const char*>(samples.data()), bytes);
    return wav;
}

}  // namespace

std::unique_ptr<TSpeechWorker> TCliAgent::MakeSpeechWorker() {
    return std::make_unique<TSpeechWorker>(
        [](const std::string& text) { return media::SpeakText(text, 0); });
}

void TCliAgent::PlaySound(const ISipCallPtr& call, const std::string& fileNames) {
    // The header first: a file too long, too slow or no WAV at all is
    // refused before its audio is read. A pipe or device would block the
    // reader, and a file without audio would end at once with nothing but
    // wav-stopped to show for it.
    std::string reason = media::SplitFileNames(fileNames).empty()
                             ? std::string("no file named")
                             : SoundOutOfBounds(fileNames, Options_.maxSoundSeconds);
    if (!reason.empty())
        throw std::runtime_error("cannot play " + reason);
    const TLoadedSound sound = LoadWorkingSound(fileNames);
    if (!sound.error.empty())
        throw std::runtime_error("cannot play " + sound.error);
    call->PlayWav(std::make_shared<media::TWavStream>(WorkingWav(sound.samples)));
    SoundPending_ = true;
}

void TCliAgent::SaySound(const ISipCallPtr& call, const std::string& text) {
    if (CharacterCount(text) > kMaxSayCharacters)
        throw std::invalid_argument("say: text longer than " + std::to_string(kMaxSayCharacters) +
                                    " characters");
    std::weak_ptr<ISipCall> target = call;
    Speech_->Speak(text, [this, target](TSpeechWorker::TResult result) {
        QMetaObject::invokeMethod(
            this, [this, target, result = std::move(result)] { SpeechReady(target.lock(), result); },
            Qt::QueuedConnection);
    });
}

void TCliAgent::SpeechReady(const ISipCallPtr& call, const TSpeechWorker::TResult& result) {
    if (!result.error.empty()) {
        PrintError("cannot say: " + result.error);
        return;
    }
    if (!call || call->GetState() == csIdle) {
        PrintError("cannot say: the call ended before the speech was ready");
        return;
    }
    call->PlayWav(std::make_shared<media::TWavStream>(WorkingWav(result.samples)));
    SoundPending_ = true;
}
