#include "sip/event_sink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

class TLogSink : public ISipEventHandler {
public:
    void Invite(ISipCallPtr) override {}
    void Ringback(ISipCallPtr) override {}
    void Silence(ISipCallPtr) override {}
    void Dtmf(ISipCallPtr, char) override {}
    void InviteOk(ISipCallPtr) override {}
    void Bye(ISipCallPtr) override {}
    void WavStopped(ISipCallPtr) override {}
    void RegistrationOk(ISipAccountPtr) override {}
    void RegistrationBye(ISipAccountPtr) override {}
    void Log(const std::string&) override { ++Logs; }
    void CreateAudioDevices(ISipCallPtr) override {}
    void ReleaseAudioDevices(ISipCallPtr) override {}
    std::atomic<int> Logs{0};
};

}  // namespace

TEST(EventSinkTest, NothingIsRaisedWithoutASink) {
    TEventSinkRef sinkRef;
    bool called = false;
    EXPECT_FALSE(sinkRef.Notify([&](ISipEventHandler&) { called = true; }));
    EXPECT_FALSE(called);

    const auto sink = std::make_shared<TLogSink>();
    sinkRef.Set(sink);
    EXPECT_TRUE(sinkRef.Notify([](ISipEventHandler& handler) { handler.Log("x"); }));
    sinkRef.Set(nullptr);
    EXPECT_FALSE(sinkRef.Notify([](ISipEventHandler& handler) { handler.Log("y"); }));
    EXPECT_EQ(sink->Logs, 1);
}

TEST(EventSinkTest, AReplacedSinkFinishesTheNotificationItWasGiven) {
    TEventSinkRef sinkRef;
    std::weak_ptr<TLogSink> first;
    {
        const auto sink = std::make_shared<TLogSink>();
        first = sink;
        sinkRef.Set(sink);
    }
    const auto second = std::make_shared<TLogSink>();
    sinkRef.Notify([&](ISipEventHandler& handler) {
        // The sink replaces itself from inside a notification: no deadlock,
        // and the old sink lives until the notification returns.
        sinkRef.Set(second);
        EXPECT_FALSE(first.expired());
        handler.Log("late");
    });
    EXPECT_TRUE(first.expired());
    EXPECT_EQ(sinkRef.Get(), second);
    EXPECT_EQ(second->Logs, 0);
}

TEST(EventSinkTest, ConcurrentReplaceAndNotifyReachesAnInstalledSink) {
    TEventSinkRef sinkRef;
    std::vector<std::shared_ptr<TLogSink>> sinks;
    for (int index = 0; index < 2000; ++index)
        sinks.push_back(index % 3 == 0 ? nullptr : std::make_shared<TLogSink>());
    std::atomic<bool> done{false};
    std::thread replacer([&] {
        for (const auto& sink : sinks)
            sinkRef.Set(sink);
        done = true;
    });
    int raised = 0;
    while (!done) {
        if (sinkRef.Notify([](ISipEventHandler& handler) { handler.Log("t"); }))
            ++raised;
    }
    replacer.join();
    int logged = 0;
    for (const auto& sink : sinks)
        logged += sink ? sink->Logs.load() : 0;
    EXPECT_EQ(logged, raised);
}
