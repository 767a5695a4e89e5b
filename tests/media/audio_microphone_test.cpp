// The microphone on a card that goes away mid-call: no busy loop while it is
// gone (one reopen per device period), the listener hears of the loss and of
// the return once each, and frames reach the call again once it is back.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "media/audio_microphone.h"
#include "tests/sip/fake_call.h"

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// A capture card that can be pulled out and plugged back in; it fills one
// 20 ms buffer per period as a real one does, and fails at once when gone.
struct TFakeInputCard {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Present = true;
    int Opens = 0;
    int Reads = 0;
    std::vector<bool> Events;

    template <class TPredicate>
    bool WaitUntil(TPredicate done, std::chrono::milliseconds limit = 5s) {
        std::unique_lock<std::mutex> guard(Lock);
        return Changed.wait_for(guard, limit, [&] { return done(); });
    }
    int Count(const int& field) {
        std::lock_guard<std::mutex> guard(Lock);
        return field;
    }
};

class TFakeInput final : public media::IAudioInputStream {
public:
    explicit TFakeInput(std::shared_ptr<TFakeInputCard> card) : Card_(std::move(card)) {}
    media::TStreamFormat GetFormat() const override { return {8000, 1}; }
    int GetFramesPerBuffer() const override { return 160; }
    bool Read(int16_t* samples, unsigned long frames) override {
        {
            std::lock_guard<std::mutex> guard(Card_->Lock);
            if (!Card_->Present)
                return false;  // a pulled card fails without waiting
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(frames / 8));  // the card's clock
        std::fill(samples, samples + frames, int16_t{500});
        std::lock_guard<std::mutex> guard(Card_->Lock);
        ++Card_->Reads;
        Card_->Changed.notify_all();
        return true;
    }

private:
    const std::shared_ptr<TFakeInputCard> Card_;
};

// Counts the frames the microphone hands over.
class TCountingCall : public TFakeCall {
public:
    void SendAudioFrame(const int16_t*) override { ++Frames; }
    std::atomic<int> Frames{0};
};

}  // namespace

TEST(MicrophoneDeviceLoss, PulledCardIsRetriedOncePerPeriodAndCapturesAgainWhenBack) {
    const auto card = std::make_shared<TFakeInputCard>();
    media::TMicrophone microphone([card](int& error) -> media::IAudioInputStreamPtr {
        std::lock_guard<std::mutex> guard(card->Lock);
        ++card->Opens;
        card->Changed.notify_all();
        error = card->Present ? 0 : -9996;
        if (!card->Present)
            return nullptr;
        return std::make_unique<TFakeInput>(card);
    });
    ASSERT_TRUE(microphone.IsOpened());
    microphone.SetDeviceListener([card](bool present) {
        std::lock_guard<std::mutex> guard(card->Lock);
        card->Events.push_back(present);
        card->Changed.notify_all();
    });
    const auto call = std::make_shared<TCountingCall>();
    microphone.SetCall(call);
    ASSERT_TRUE(card->WaitUntil([&] { return card->Reads >= 3; }));

    {
        std::lock_guard<std::mutex> guard(card->Lock);
        card->Present = false;
    }
    ASSERT_TRUE(card->WaitUntil([&] { return card->Events == std::vector<bool>{false}; }));
    const int opensAtLoss = card->Count(card->Opens);
    const auto lost = TClock::now();
    constexpr int kRetries = 10;
    ASSERT_TRUE(card->WaitUntil([&] { return card->Opens >= opensAtLoss + kRetries; }));
    const double seconds = std::chrono::duration<double>(TClock::now() - lost).count();
    // One retry per 20 ms period: 50 a second (a spinning thread makes
    // hundreds of thousands).
    EXPECT_LE(kRetries / seconds, 60.0) << kRetries << " retries in " << seconds << " s";

    int framesAtReturn = 0;
    {
        std::lock_guard<std::mutex> guard(card->Lock);
        card->Present = true;
        framesAtReturn = call->Frames;
    }
    ASSERT_TRUE(card->WaitUntil([&] { return card->Events == std::vector<bool>{false, true}; }));
    const auto limit = TClock::now() + 5s;
    while (call->Frames < framesAtReturn + 3 && TClock::now() < limit)
        card->WaitUntil([] { return false; }, 20ms);
    EXPECT_GE(call->Frames, framesAtReturn + 3);
    microphone.SetCall(nullptr);
}
