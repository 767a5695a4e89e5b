#include "media/call.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sip/event_sink.h"
#include "sip/message.h"

using namespace std::chrono_literals;

namespace {

// Records every notification; thread-safe so the stress tests can share it.
class TRecordingSink : public ISipEventHandler {
public:
    void Invite(ISipCallPtr) override {}
    void Ringback(ISipCallPtr) override {}
    void Silence(ISipCallPtr call) override { Record("silence", call); }
    void Dtmf(ISipCallPtr call, char digit) override {
        Record(std::string("dtmf:") + digit, call);
    }
    void InviteOk(ISipCallPtr) override {}
    void Bye(ISipCallPtr call) override {
        ++ByeCount;
        Record("bye", call);
    }
    void WavStopped(ISipCallPtr) override {}
    void RegistrationOk(ISipAccountPtr) override {}
    void RegistrationBye(ISipAccountPtr) override {}
    void Log(const std::string&) override {}
    void CreateAudioDevices(ISipCallPtr call) override {
        // The devices must exist before the call's socket does.
        Record(call->GetMediaActive() ? "create:active" : "create", call);
    }
    void ReleaseAudioDevices(ISipCallPtr call) override {
        Record(call->GetMediaActive() ? "release:active" : "release", call);
    }

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> guard(Lock);
        return Names;
    }
    // Kept as an address: a sink that held the call would keep it alive,
    // since the call holds its sink.
    const ISipCall* LastCall() {
        std::lock_guard<std::mutex> guard(Lock);
        return Last;
    }

    std::atomic<int> ByeCount{0};

private:
    void Record(const std::string& name, ISipCallPtr call) {
        std::lock_guard<std::mutex> guard(Lock);
        Names.push_back(name);
        Last = call.get();
    }
    std::mutex Lock;
    std::vector<std::string> Names;
    const ISipCall* Last = nullptr;
};

struct TFakeClock {
    std::atomic<uint32_t> Tick{100000};
    TCallClock Clock() {
        return TCallClock{[this] { return Tick.load(); }, [] { return 45000.25; }};
    }
};

class CallTest : public ::testing::Test {
protected:
    TCallPtr NewCall(ISipEventHandlerPtr sink, std::string callId = {}) {
        TCallSettings settings;
        settings.eventSink = std::move(sink);
        settings.callId = std::move(callId);
        settings.clock = Clock.Clock();
        return TCall::Create(std::move(settings));
    }

    TFakeClock Clock;
    std::shared_ptr<TRecordingSink> Sink = std::make_shared<TRecordingSink>();
};

bool IsUpperHex(const std::string& text) {
    return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

}  // namespace

// Start values ------------------------------------------------------------------

TEST_F(CallTest, NewCallStartsIdleWithFreshIdentifiersAndDefaults) {
    const TCallPtr call = NewCall(Sink);
    EXPECT_EQ(call->GetState(), csIdle);
    EXPECT_EQ(call->GetDirection(), "sendrecv");
    EXPECT_EQ(call->GetSpeakerDevice(), -1);
    EXPECT_EQ(call->GetMicrophoneDevice(), -1);
    EXPECT_TRUE(call->GetSpeakerEnabled());
    EXPECT_TRUE(call->GetMicrophoneEnabled());
    EXPECT_FALSE(call->GetMediaActive());
    EXPECT_FALSE(call->GetIncoming());
    EXPECT_FALSE(call->GetOnHold());
    EXPECT_EQ(call->Dialog().LocalCSeq(), 0u);
    EXPECT_EQ(call->Dialog().State(), TDialogState::kNone);
    EXPECT_EQ(call->GetSdpVersion(), 0);
    EXPECT_TRUE(call->Dialog().RouteSet().empty());
    EXPECT_EQ(call->GetStartTime(), 45000.25);

    EXPECT_EQ(call->Dialog().LocalTag().size(), 9u);
    EXPECT_TRUE(IsUpperHex(call->Dialog().LocalTag()));
    const std::string branch = call->GetBranch();
    EXPECT_EQ(branch.size(), 17u);
    EXPECT_EQ(branch.substr(0, 7), "z9hG4bK");
    EXPECT_EQ(call->GetCallId().size(), 32u);
    EXPECT_TRUE(IsUpperHex(call->GetCallId()));

    // The SSRC is a random 0..4999 on top of the tick at creation.
    EXPECT_GE(call->GetSsrc(), 100000u);
    EXPECT_LT(call->GetSsrc(), 105000u);
    const TRtpSendState& rtp = call->RtpSendState();
    EXPECT_EQ(rtp.sequenceNumber, 0);
    EXPECT_EQ(rtp.timestamp, 0);
    EXPECT_EQ(rtp.packet[0], 0);
}

TEST_F(CallTest, RandomStartValuesStayInRangeAndDifferBetweenCalls) {
    std::vector<std::string> tags;
    for (int index = 0; index < 200; ++index) {
        const TCallPtr call = NewCall(Sink);
        EXPECT_GE(call->GetSdpSessionId(), 1234);
        EXPECT_LE(call->GetSdpSessionId(), 56233);
        tags.push_back(call->Dialog().LocalTag() + call->GetCallId());
    }
    std::sort(tags.begin(), tags.end());
    EXPECT_EQ(std::unique(tags.begin(), tags.end()), tags.end());
}

TEST_F(CallTest, GivenCallIdIsKept) {
    EXPECT_EQ(NewCall(Sink, "abc@host")->GetCallId(), "abc@host");
}

// State changes and Bye ----------------------------------------------------------------

TEST_F(CallTest, ChangeToIdleRaisesByeOnceWithTheCallItself) {
    const TCallPtr call = NewCall(Sink);
    call->SetState(csConnected);
    EXPECT_EQ(Sink->ByeCount, 0);
    EXPECT_FALSE(call->GetEndedEvent()->Wait(0ms));

    call->SetState(csIdle);
    EXPECT_EQ(Sink->ByeCount, 1);
    EXPECT_EQ(Sink->LastCall(), call.get());
    EXPECT_TRUE(call->GetEndedEvent()->Wait(0ms));

    // Again on an ended call: the ended event is set again, Bye is not raised.
    call->SetState(csIdle);
    EXPECT_EQ(Sink->ByeCount, 1);
    EXPECT_TRUE(call->GetEndedEvent()->Wait(0ms));
}

TEST_F(CallTest, IdleOnANewCallSetsEndedWithoutBye) {
    const TCallPtr call = NewCall(Sink);
    call->SetState(csIdle);
    EXPECT_EQ(Sink->ByeCount, 0);
    EXPECT_TRUE(call->GetEndedEvent()->Wait(0ms));
}

TEST_F(CallTest, EveryNewEndRaisesItsOwnBye) {
    const TCallPtr call = NewCall(Sink);
    call->SetState(csRinging);
    call->SetState(csIdle);
    call->SetState(csHolding);
    call->SetState(csIdle);
    EXPECT_EQ(Sink->ByeCount, 2);
}

TEST_F(CallTest, WithoutSinkAnEndingCallRaisesNothingButSetsEnded) {
    const TCallPtr call = NewCall(nullptr);
    call->SetState(csConnected);
    call->SetState(csIdle);
    call->ReportDtmf("5");
    call->ReportSilence();
    EXPECT_EQ(call->GetDtmfReceived(), "5");
    EXPECT_TRUE(call->GetEndedEvent()->Wait(0ms));
}

TEST_F(CallTest, CallKeepsTheSinkItWasCreatedWith) {
    TEventSinkRef engineSink;
    engineSink.Set(Sink);
    const TCallPtr call = NewCall(engineSink.Get());
    const auto replacement = std::make_shared<TRecordingSink>();
    engineSink.Set(replacement);

    call->SetState(csConnected);
    call->SetState(csIdle);
    EXPECT_EQ(Sink->ByeCount, 1);
    EXPECT_EQ(replacement->ByeCount, 0);
    EXPECT_EQ(call->GetEventSink(), Sink);
}

TEST_F(CallTest, RacingEndsRaiseExactlyOneByePerChange) {
    const TCallPtr call = NewCall(Sink);
    constexpr int kRounds = 200;
    constexpr int kThreads = 4;
    for (int round = 0; round < kRounds; ++round) {
        call->SetState(csConnected);
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int index = 0; index < kThreads; ++index) {
            threads.emplace_back([&] {
                while (!go)
                    std::this_thread::yield();
                call->SetState(csIdle);
            });
        }
        go = true;
        for (std::thread& thread : threads)
            thread.join();
    }
    EXPECT_EQ(Sink->ByeCount, kRounds);
}

// Received digits ----------------------------------------------------------------------------

TEST_F(CallTest, DigitsWithinTheDeadTimeAreDropped) {
    const TCallPtr call = NewCall(Sink);
    call->ReportDtmf("1");
    Clock.Tick += 100;
    call->ReportDtmf("2");  // 100 ms after the first: dropped
    Clock.Tick += 130;
    call->ReportDtmf("3");  // 130 ms after the dropped one: delivered
    Clock.Tick += 119;
    call->ReportDtmf("4");
    Clock.Tick += 120;
    call->ReportDtmf("5");  // exactly the dead time: delivered
    EXPECT_EQ(call->GetDtmfReceived(), "135");
    EXPECT_EQ(Sink->Events(), (std::vector<std::string>{"dtmf:1", "dtmf:3", "dtmf:5"}));
}

TEST_F(CallTest, DeadTimeSurvivesTheTickWrapping) {
    Clock.Tick = 0xFFFFFFF0u;
    const TCallPtr call = NewCall(Sink);
    call->ReportDtmf("1");
    Clock.Tick = 0x00000050u;  // 96 ms later, across the wrap
    call->ReportDtmf("2");
    Clock.Tick = 0x00000100u;  // 176 ms after "2"
    call->ReportDtmf("3");
    EXPECT_EQ(call->GetDtmfReceived(), "13");
}

TEST_F(CallTest, DigitsBySipInfoSkipTheDeadTime) {
    const TCallPtr call = NewCall(Sink);
    call->DeliverDtmf('4');
    call->DeliverDtmf('4');
    call->DeliverDtmf('B');
    EXPECT_EQ(call->GetDtmfReceived(), "44");
    EXPECT_EQ(Sink->Events(), (std::vector<std::string>{"dtmf:4", "dtmf:4", "dtmf:B"}));
    // Nor do they start one for digits reported later.
    call->ReportDtmf("5");
    EXPECT_EQ(call->GetDtmfReceived(), "445");
}

TEST_F(CallTest, EmptyDigitDeliversNothingButRestartsTheDeadTime) {
    const TCallPtr call = NewCall(Sink);
    call->ReportDtmf("");
    Clock.Tick += 50;
    call->ReportDtmf("7");
    EXPECT_EQ(call->GetDtmfReceived(), "");
    EXPECT_TRUE(Sink->Events().empty());
}

TEST_F(CallTest, OnlyKeypadDigitsAreKeptAndPulseTheDigitEvent) {
    const TCallPtr call = NewCall(Sink);
    call->ReportDtmf("D");
    EXPECT_EQ(Sink->Events(), std::vector<std::string>{"dtmf:D"});
    EXPECT_EQ(call->GetDtmfReceived(), "");

    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = call->GetDtmfEvent()->Wait(30s); });
    // A pulse reaches only a thread that waits already.
    while (!woke) {
        Clock.Tick += 200;
        call->ReportDtmf("#9");
        std::this_thread::sleep_for(1ms);
    }
    waiter.join();
    EXPECT_EQ(call->GetDtmfReceived().substr(0, 1), "#");
    EXPECT_EQ(call->GetDtmfReceived().find('9'), std::string::npos);
}

TEST_F(CallTest, RacingReportsAtOneInstantDeliverOneDigit) {
    const TCallPtr call = NewCall(Sink);
    for (int round = 0; round < 100; ++round) {
        Clock.Tick += 1000;
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int index = 0; index < 4; ++index) {
            threads.emplace_back([&] {
                while (!go)
                    std::this_thread::yield();
                call->ReportDtmf("1");
            });
        }
        go = true;
        for (std::thread& thread : threads)
            thread.join();
    }
    EXPECT_EQ(call->GetDtmfReceived(), std::string(100, '1'));
}

TEST_F(CallTest, SilenceReachesTheSinkAndPulsesTheSilenceEvent) {
    const TCallPtr call = NewCall(Sink);
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = call->GetSilenceEvent()->Wait(30s); });
    while (!woke) {
        call->ReportSilence();
        std::this_thread::sleep_for(1ms);
    }
    waiter.join();
    EXPECT_EQ(Sink->Events().front(), "silence");
    EXPECT_EQ(Sink->LastCall(), call.get());
}

// Taps and sound sources -------------------------------------------------------------------

namespace {

class TTapLog : public ISipConference, public ISipRecorder {
public:
    explicit TTapLog(std::vector<std::string>& log) : Log_(log) {}
    void ReceivedFrame(ISipCall& call, const int16_t* pcm) override {
        Log_.push_back("conference-in:" + call.GetCallId() + ":" + std::to_string(pcm[0]));
        // Reaching the other tap from inside a tap must not deadlock.
        (void)call.GetRecorder();
    }
    void SentFrame(ISipCall& call, const int16_t* pcm) override {
        Log_.push_back("conference-out:" + call.GetCallId() + ":" + std::to_string(pcm[0]));
    }
    void ReceivedFrame(const int16_t* pcm) override {
        Log_.push_back("recorder-in:" + std::to_string(pcm[0]));
    }
    void SentFrame(const int16_t* pcm) override {
        Log_.push_back("recorder-out:" + std::to_string(pcm[0]));
    }

private:
    std::vector<std::string>& Log_;
};

}  // namespace

TEST_F(CallTest, TapsGetEachFrameByDirectionConferenceFirst) {
    const TCallPtr call = NewCall(Sink, "C1");
    std::vector<std::string> log;
    const auto tap = std::make_shared<TTapLog>(log);
    int16_t frame[kFrameSamples] = {};
    frame[0] = 7;
    call->TapReceivedFrame(frame);  // no taps: nothing happens

    call->SetConference(tap);
    call->SetRecorder(tap);
    call->TapReceivedFrame(frame);
    frame[0] = 9;
    call->TapSentFrame(frame);
    EXPECT_EQ(log, (std::vector<std::string>{"conference-in:C1:7", "recorder-in:7",
                                             "conference-out:C1:9", "recorder-out:9"}));

    call->SetConference(nullptr);
    call->TapReceivedFrame(frame);
    EXPECT_EQ(log.back(), "recorder-in:9");
    EXPECT_EQ(log.size(), 5u);
}

TEST_F(CallTest, PlayWavClearsAPendingWavDoneSignal) {
    const TCallPtr call = NewCall(Sink);
    call->GetWavDoneEvent()->Set();
    call->PlayWav(nullptr);
    EXPECT_FALSE(call->GetWavDoneEvent()->Wait(0ms));
}

TEST_F(CallTest, QueuedDigitsLeaveTheQueueFirstCharacterFirst) {
    const TCallPtr call = NewCall(Sink);
    call->QueueDtmf("12");
    call->QueueDtmf("#");
    call->DropQueuedDtmf();
    EXPECT_EQ(call->GetDtmfQueue(), "2#");
    call->DropQueuedDtmf();
    call->DropQueuedDtmf();
    call->DropQueuedDtmf();  // empty queue: nothing to drop
    EXPECT_EQ(call->GetDtmfQueue(), "");
}
