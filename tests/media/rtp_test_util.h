// Fakes shared by the RTP tests: an event sink that records digits, silence
// and WAV ends; a recording speaker; a loopback peer; a free port.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "media/call.h"
#include "sip/transport.h"

namespace rtp_test {

using namespace std::chrono_literals;

class TRecordingSink : public ISipEventHandler {
public:
    void Invite(ISipCallPtr) override {}
    void Ringback(ISipCallPtr) override {}
    void Silence(ISipCallPtr) override { ++Silences; }
    void Dtmf(ISipCallPtr, char digit) override {
        std::lock_guard<std::mutex> guard(Lock);
        Digits += digit;
        Changed.notify_all();
    }
    void InviteOk(ISipCallPtr) override {}
    void Bye(ISipCallPtr) override {}
    void WavStopped(ISipCallPtr) override { ++WavStops; }
    void RegistrationOk(ISipAccountPtr) override {}
    void RegistrationBye(ISipAccountPtr) override {}
    void Log(const std::string&) override {}
    void CreateAudioDevices(ISipCallPtr) override {}
    void ReleaseAudioDevices(ISipCallPtr) override {}

    std::string GetDigits() {
        std::lock_guard<std::mutex> guard(Lock);
        return Digits;
    }
    bool WaitDigits(std::size_t count, std::chrono::milliseconds limit = 5s) {
        std::unique_lock<std::mutex> guard(Lock);
        return Changed.wait_for(guard, limit, [&] { return Digits.size() >= count; });
    }

    std::atomic<int> Silences{0};
    std::atomic<int> WavStops{0};
    std::mutex Lock;
    std::condition_variable Changed;
    std::string Digits;
};

// Keeps every frame played, with the steady-clock time it arrived.
class TRecordingSpeaker : public ISipSpeaker {
public:
    void Play(const void* pcm, int length) override {
        std::lock_guard<std::mutex> guard(Lock);
        const auto* samples = static_cast<const int16_t*>(pcm);
        Samples.insert(Samples.end(), samples, samples + length / 2);
        Lengths.push_back(length);
        Times.push_back(std::chrono::steady_clock::now());
        ++Played;
    }
    bool CanPlay() override { return Room.load() != 0 && (Room.load() < 0 || Played < Room.load()); }

    std::vector<int16_t> GetSamples() {
        std::lock_guard<std::mutex> guard(Lock);
        return Samples;
    }

    std::atomic<int> Room{-1};  // frames it takes in all; -1 without limit
    std::atomic<int> Played{0};
    std::mutex Lock;
    std::vector<int16_t> Samples;
    std::vector<int> Lengths;
    std::vector<std::chrono::steady_clock::time_point> Times;
};

class TRecordingTap : public ISipRecorder {
public:
    void ReceivedFrame(const int16_t* pcm) override { Received.emplace_back(pcm, pcm + 160); }
    void SentFrame(const int16_t* pcm) override { Sent.emplace_back(pcm, pcm + 160); }
    std::vector<std::vector<int16_t>> Received, Sent;
};

class TPeer {
public:
    TPeer()
        : Socket_(0, nullptr, [this](const std::string&, uint16_t, const uint8_t* data, std::size_t length) {
              std::lock_guard<std::mutex> guard(Lock_);
              Received_.emplace_back(data, data + length);
              Arrived_.notify_all();
          }) {}
    uint16_t Port() const { return Socket_.LocalPort(); }
    std::vector<std::vector<uint8_t>> WaitFor(std::size_t count, std::chrono::milliseconds limit = 20s) {
        std::unique_lock<std::mutex> guard(Lock_);
        Arrived_.wait_for(guard, limit, [&] { return Received_.size() >= count; });
        return Received_;
    }
    std::vector<std::vector<uint8_t>> Take() {
        std::lock_guard<std::mutex> guard(Lock_);
        return std::exchange(Received_, {});
    }

private:
    std::mutex Lock_;
    std::condition_variable Arrived_;
    std::vector<std::vector<uint8_t>> Received_;
    TUdpSocket Socket_;
};

inline uint16_t FreePort() {
    TUdpSocket probe(0, nullptr, [](const std::string&, uint16_t, const uint8_t*, std::size_t) {});
    return probe.LocalPort();
}

}  // namespace rtp_test
