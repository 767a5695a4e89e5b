// The speaker on a card that goes away mid-call: no busy loop while it is
// gone (one reopen per device period), the call's frames keep flowing, the
// listener hears of the loss and of the return, and playback resumes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "media/audio_speaker.h"

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// A card that can be pulled out and plugged back in; it plays one frame per
// 20 ms as a real one does.
struct TFakeCard {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Present = true;
    int Opens = 0;
    int Writes = 0;
    std::vector<bool> Events;  // what the speaker's listener was told

    template <class TPredicate>
    bool WaitUntil(TPredicate done, std::chrono::milliseconds limit = 5s) {
        std::unique_lock<std::mutex> guard(Lock);
        return Changed.wait_for(guard, limit, [&] { return done(); });
    }
    void Set(bool present) {
        std::lock_guard<std::mutex> guard(Lock);
        Present = present;
    }
};

class TFakeStream final : public media::IAudioOutputStream {
public:
    explicit TFakeStream(std::shared_ptr<TFakeCard> card) : Card_(std::move(card)) {}
    media::TStreamFormat GetFormat() const override { return {8000, 1}; }
    bool Write(const int16_t*, unsigned long frames) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(frames / 8));  // the card's clock
        std::lock_guard<std::mutex> guard(Card_->Lock);
        if (!Card_->Present)
            return false;
        ++Card_->Writes;
        Card_->Changed.notify_all();
        return true;
    }

private:
    const std::shared_ptr<TFakeCard> Card_;
};

media::TAudioOutputOpener OpenerOf(const std::shared_ptr<TFakeCard>& card) {
    return [card]() -> media::IAudioOutputStreamPtr {
        std::lock_guard<std::mutex> guard(card->Lock);
        ++card->Opens;
        card->Changed.notify_all();
        if (!card->Present)
            return nullptr;
        return std::make_unique<TFakeStream>(card);
    };
}

std::unique_ptr<media::TSpeaker> SpeakerOn(const std::shared_ptr<TFakeCard>& card) {
    auto speaker = std::make_unique<media::TSpeaker>(OpenerOf(card));
    speaker->SetDeviceListener([card](bool present) {
        std::lock_guard<std::mutex> guard(card->Lock);
        card->Events.push_back(present);
        card->Changed.notify_all();
    });
    return speaker;
}

}  // namespace

TEST(SpeakerDeviceLoss, PulledCardIsRetriedOncePerPeriodAndPlaysAgainWhenBack) {
    const auto card = std::make_shared<TFakeCard>();
    const auto speaker = SpeakerOn(card);
    ASSERT_TRUE(speaker->IsOpened());
    ASSERT_TRUE(speaker->SetFrameSource([](int16_t* pcm, int capacity) {
        std::fill(pcm, pcm + capacity, int16_t{0});
        return capacity;
    }));
    ASSERT_TRUE(card->WaitUntil([&] { return card->Writes >= 3; }));

    card->Set(false);
    ASSERT_TRUE(card->WaitUntil([&] { return card->Events == std::vector<bool>{false}; }));
    int opensAtLoss = 0;
    {
        std::lock_guard<std::mutex> guard(card->Lock);
        opensAtLoss = card->Opens;
    }
    const auto lost = TClock::now();
    constexpr int kRetries = 10;
    ASSERT_TRUE(card->WaitUntil([&] { return card->Opens >= opensAtLoss + kRetries; }));
    const double seconds = std::chrono::duration<double>(TClock::now() - lost).count();
    // One retry per 20 ms period: 50 a second (a spinning thread makes
    // hundreds of thousands).
    EXPECT_LE(kRetries / seconds, 60.0) << kRetries << " retries in " << seconds << " s";

    // The call goes on meanwhile: frames handed to the speaker are taken at
    // the device's pace, so the queue never stays full.
    const std::vector<int16_t> frame(160, 1000);
    while (speaker->CanPlay())
        speaker->Play(frame.data(), static_cast<int>(frame.size() * 2));
    const auto drained = TClock::now() + 5s;
    while (!speaker->CanPlay() && TClock::now() < drained)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(speaker->CanPlay());

    int writesAtReturn = 0;
    {
        std::lock_guard<std::mutex> guard(card->Lock);
        card->Present = true;
        writesAtReturn = card->Writes;
    }
    ASSERT_TRUE(card->WaitUntil([&] { return card->Events == std::vector<bool>{false, true}; }));
    EXPECT_TRUE(card->WaitUntil([&] { return card->Writes >= writesAtReturn + 3; }));
}
