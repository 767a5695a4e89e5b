// The hand-over of engine notifications to the component's thread: every
// entry of the event table, order under a burst, references held by queued
// events, throwing handlers, and destruction with events still queued.
#include <QThread>

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sip/account.h"
#include "sipclient/event_handler.h"
#include "sipclient/sipclient.h"
#include "tests/sipclient/sipclient_test_support.h"

namespace {

ISipEventHandlerPtr SinkOf(TSipClient& client, std::shared_ptr<TSipClientEventTarget>& target) {
    target = std::make_shared<TSipClientEventTarget>(&client);
    return std::make_shared<TSipClientEventHandler>(target);
}

// Records every event as text, with a check that it ran on the owning thread.
struct TEventLog {
    std::vector<std::string> lines;
    bool offThread = false;

    void Attach(TSipClient& client) {
        auto note = [this, &client](std::string line) {
            offThread |= QThread::currentThread() != client.thread();
            lines.push_back(std::move(line));
        };
        QObject::connect(&client, &TSipClient::OnLog, [note](TSipClient*, const QString& t) { note("log " + t.toStdString()); });
        QObject::connect(&client, &TSipClient::OnInvite, [note](TSipClient*, ISipCallPtr) { note("invite"); });
        QObject::connect(&client, &TSipClient::OnInviteOk, [note](TSipClient*, ISipCallPtr) { note("invite-ok"); });
        QObject::connect(&client, &TSipClient::OnDtmf, [note](TSipClient*, ISipCallPtr, const QString& d) { note("dtmf " + d.toStdString()); });
        QObject::connect(&client, &TSipClient::OnWavStopped, [note](TSipClient*, ISipCallPtr) { note("wav-stopped"); });
        QObject::connect(&client, &TSipClient::OnBye, [note](TSipClient*, ISipCallPtr) { note("bye"); });
        QObject::connect(&client, &TSipClient::OnRingback, [note](TSipClient*, ISipCallPtr) { note("ringback"); });
        QObject::connect(&client, &TSipClient::OnSilence, [note](TSipClient*, ISipCallPtr) { note("silence"); });
        QObject::connect(&client, &TSipClient::OnRegistrationOk, [note](TSipClient*, ISipAccountPtr) { note("registration-ok"); });
        QObject::connect(&client, &TSipClient::OnRegistrationBye, [note](TSipClient*, ISipAccountPtr) { note("registration-bye"); });
        QObject::connect(&client, &TSipClient::OnMessage, [note](TSipClient*, ISipAccountPtr, const QString& from, const QString& text) {
            note("message " + from.toStdString() + " " + text.toStdString());
        });
        QObject::connect(&client, &TSipClient::OnMessageStatus, [note](TSipClient*, ISipAccountPtr, const QString& to, int status) {
            note("message-status " + to.toStdString() + " " + std::to_string(status));
        });
        QObject::connect(&client, &TSipClient::OnTransferStatus, [note](TSipClient*, ISipCallPtr, int status) {
            note("transfer-status " + std::to_string(status));
        });
    }
};

TEST(EventHandover, EveryEventRaisedOnOwningThreadInPostingOrder) {
    TSipClient client;
    std::shared_ptr<TSipClientEventTarget> target;
    const ISipEventHandlerPtr sink = SinkOf(client, target);
    TEventLog log;
    log.Attach(client);
    const auto call = NewTestCall();
    const ISipAccountPtr account = NewTestAccount();

    std::thread engineThread([&] {
        sink->Log("SIP/2.0 200 OK\r\n\r\n");
        sink->Invite(call);
        sink->Ringback(call);
        sink->InviteOk(call);
        sink->Dtmf(call, '#');
        sink->Silence(call);
        sink->WavStopped(call);
        sink->RegistrationOk(account);
        sink->RegistrationBye(account);
        sink->MessageReceived(account, "carol", "hola, que tal");
        sink->MessageStatus(account, "bob", 404);
        sink->TransferStatus(call, 486);
        sink->Bye(call);
    });
    engineThread.join();
    EXPECT_TRUE(log.lines.empty()) << "nothing may run before the owning thread's loop";
    ASSERT_TRUE(PumpUntil([&] { return log.lines.size() == 13; }));
    const std::vector<std::string> expected = {
        "log SIP/2.0 200 OK\r\n\r\n", "invite", "ringback", "invite-ok", "dtmf #", "silence",
        "wav-stopped", "registration-ok", "registration-bye", "message carol hola, que tal",
        "message-status bob 404", "transfer-status 486", "bye"};
    EXPECT_EQ(log.lines, expected);
    EXPECT_FALSE(log.offThread);
}

TEST(EventHandover, InviteRingsAnIdleCallAndSkipsOneThatMovedOn) {
    TSipClient client;
    std::shared_ptr<TSipClientEventTarget> target;
    const ISipEventHandlerPtr sink = SinkOf(client, target);
    TEventLog log;
    log.Attach(client);

    const auto idle = NewTestCall();
    sink->Invite(idle);
    PumpQueued();
    EXPECT_EQ(idle->GetState(), csRinging);
    EXPECT_EQ(log.lines, std::vector<std::string>{"invite"});

    const auto cancelled = NewTestCall();
    sink->Invite(cancelled);
    cancelled->SetState(csConnected);  // changed before the event is dispatched
    PumpQueued();
    EXPECT_EQ(cancelled->GetState(), csConnected);
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST(EventHandover, ByeStopsPlaybackBeforeTheHandlerRuns) {
    TSipClient client;
    std::shared_ptr<TSipClientEventTarget> target;
    const ISipEventHandlerPtr sink = SinkOf(client, target);
    const auto call = NewTestCall();
    call->SetSpeaker(std::make_shared<TRecordingSpeaker>());
    bool speakerAtBye = true;
    QObject::connect(&client, &TSipClient::OnBye,
                     [&](TSipClient*, ISipCallPtr c) { speakerAtBye = c->GetSpeaker() != nullptr; });
    sink->Bye(call);
    PumpQueued();
    EXPECT_FALSE(speakerAtBye);
}

TEST(EventHandover, BurstOfWavStoppedKeepsOrderAndReleasesEveryReference) {
    TSipClient client;
    std::shared_ptr<TSipClientEventTarget> target;
    const ISipEventHandlerPtr sink = SinkOf(client, target);
    TEventLog log;
    log.Attach(client);
    std::weak_ptr<TCall> watched;
    {
        const auto call = NewTestCall();
        watched = call;
        // Ten seconds' worth of a call's per-frame WavStopped, with a digit
        // after every 50th so the order can be checked.
        std::thread media([sink, call] {
            for (int i = 0; i < 500; ++i) {
                sink->WavStopped(call);
                if (i % 50 == 49)
                    sink->Dtmf(call, static_cast<char>('0' + i / 50));
            }
        });
        media.join();
    }
    EXPECT_FALSE(watched.expired()) << "queued events hold the call";
    ASSERT_TRUE(PumpUntil([&] { return log.lines.size() == 510; }));
    for (std::size_t i = 0, digit = 0; i < log.lines.size(); ++i) {
        if (i % 51 == 50)
            ASSERT_EQ(log.lines[i], "dtmf " + std::to_string(digit++)) << "at " << i;
        else
            ASSERT_EQ(log.lines[i], "wav-stopped") << "at " << i;
    }
    EXPECT_TRUE(watched.expired());
}

TEST(EventHandover, ReferencesReleasedWithoutHandlerAndAfterHandlerThrows) {
    TSipClient client;
    std::shared_ptr<TSipClientEventTarget> target;
    const ISipEventHandlerPtr sink = SinkOf(client, target);
    std::weak_ptr<TCall> unhandled;
    std::weak_ptr<ISipAccount> account;
    {
        const auto call = NewTestCall();
        unhandled = call;
        const auto acc = NewTestAccount();
        account = acc;
        sink->Silence(call);
        sink->RegistrationOk(acc);
    }
    PumpQueued();
    EXPECT_TRUE(unhandled.expired());
    EXPECT_TRUE(account.expired());

    QObject::connect(&client, &TSipClient::OnRingback,
                     [](TSipClient*, ISipCallPtr) { throw std::runtime_error("handler broke"); });
    QStringList errors;
    QObject::connect(&client, &TSipClient::HandlerError,
                     [&](TSipClient*, const QString& text) { errors << text; });
    const auto call = NewTestCall();
    sink->Ringback(call);
    PumpQueued();
    EXPECT_EQ(errors, QStringList{"handler broke"});
    EXPECT_EQ(call.use_count(), 1) << "the queued reference outlived its event";
    // The call's lock must have been released despite the throw.
    auto locker = std::async(std::launch::async, [call] {
        std::lock_guard guard(*call);
        return true;
    });
    EXPECT_EQ(locker.wait_for(std::chrono::seconds(2)), std::future_status::ready);
}

TEST(EventHandover, DestroyingTheComponentDiscardsQueuedEventsAndLaterPosts) {
    std::weak_ptr<TCall> watched;
    ISipEventHandlerPtr sink;
    std::shared_ptr<TSipClientEventTarget> target;
    int raised = 0;
    {
        TSipClient client;
        sink = SinkOf(client, target);
        QObject::connect(&client, &TSipClient::OnBye, [&](TSipClient*, ISipCallPtr) { ++raised; });
        const auto call = NewTestCall();
        watched = call;
        sink->Bye(call);
        sink->Log("queued");
        target->Detach();  // what the component's destructor does for its own sink
    }
    EXPECT_TRUE(watched.expired()) << "a discarded event must release its call";
    const auto late = NewTestCall();
    sink->Bye(late);  // the sink outlives the component: dropped
    PumpQueued();
    EXPECT_EQ(raised, 0);
    EXPECT_EQ(late.use_count(), 1);
}

TEST(EventHandover, EventsFollowTheComponentToAnotherThread) {
    QThread worker;
    worker.start();
    auto client = std::make_unique<TSipClient>();
    std::shared_ptr<TSipClientEventTarget> target;
    const ISipEventHandlerPtr sink = SinkOf(*client, target);
    std::promise<bool> onWorker;
    QObject::connect(client.get(), &TSipClient::OnSilence, [&](TSipClient*, ISipCallPtr) {
        onWorker.set_value(QThread::currentThread() == &worker);
    });
    client->moveToThread(&worker);
    sink->Silence(NewTestCall());
    auto result = onWorker.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_TRUE(result.get());
    QMetaObject::invokeMethod(client.get(), [&] { client.reset(); }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
}

TEST(EventHandover, AudioDevicesAreBuiltAndReleasedSynchronously) {
    TSipClient client;
    std::shared_ptr<TSipClientEventTarget> target;
    const ISipEventHandlerPtr sink = SinkOf(client, target);
    auto microphone = std::make_shared<TRecordingMicrophone>();
    std::vector<int> devices;
    target->SetDevices({[&](ISipCall& call) -> ISipSpeakerPtr {
                            devices.push_back(call.GetSpeakerDevice());
                            return std::make_shared<TRecordingSpeaker>();
                        },
                        [&](ISipCall& call) -> ISipMicrophonePtr {
                            devices.push_back(call.GetMicrophoneDevice());
                            return microphone;
                        }});
    const auto call = NewTestCall();
    call->SetSpeakerDevice(3);
    call->SetMicrophoneDevice(5);
    sink->CreateAudioDevices(call);
    EXPECT_EQ(devices, (std::vector<int>{3, 5}));
    EXPECT_NE(call->GetSpeaker(), nullptr);
    EXPECT_EQ(call->GetMicrophone(), microphone);
    EXPECT_EQ(microphone->GetCall(), call) << "the microphone must feed the call";

    sink->ReleaseAudioDevices(call);
    EXPECT_EQ(call->GetSpeaker(), nullptr);
    EXPECT_EQ(call->GetMicrophone(), nullptr);
    EXPECT_EQ(microphone->GetCall(), nullptr) << "a device left attached keeps the call alive";
}

// A speaker whose card can be pulled out: it keeps the listener it is given.
class TPullableSpeaker final : public ISipSpeaker {
public:
    void Play(const void*, int) override {}
    bool CanPlay() override { return true; }
    void SetDeviceListener(TDeviceListener listener) override { Listener = std::move(listener); }
    TDeviceListener Listener;
};

// Loss and return of the card reach the component's thread with their call,
// in order; a report about a call that is gone is dropped.
TEST(EventHandover, SpeakerLossAndReturnReachTheComponentWithTheCall) {
    TSipClient client;
    std::shared_ptr<TSipClientEventTarget> target;
    const ISipEventHandlerPtr sink = SinkOf(client, target);
    auto speaker = std::make_shared<TPullableSpeaker>();
    target->SetDevices({[&](ISipCall&) -> ISipSpeakerPtr { return speaker; }, nullptr});
    std::vector<std::pair<ISipCall*, bool>> events;
    QObject::connect(&client, &TSipClient::OnAudioDevice, [&](TSipClient*, ISipCallPtr call, bool present) {
        events.emplace_back(call.get(), present);
    });
    auto call = NewTestCall();
    sink->CreateAudioDevices(call);
    ASSERT_TRUE(speaker->Listener);
    std::thread device([&] {
        speaker->Listener(false);
        speaker->Listener(true);
    });
    device.join();
    ASSERT_TRUE(PumpUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events, (std::vector<std::pair<ISipCall*, bool>>{{call.get(), false}, {call.get(), true}}));

    sink->ReleaseAudioDevices(call);
    call.reset();
    speaker->Listener(false);
    PumpQueued();
    EXPECT_EQ(events.size(), 2u);
}

}  // namespace

namespace {

// A microphone whose end, like a capture thread's, needs the call's lock.
class TLockNeedingMicrophone final : public ISipMicrophone {
public:
    TLockNeedingMicrophone(ISipCall& call, bool& couldLock) : Call_(call), CouldLock_(couldLock) {}
    ~TLockNeedingMicrophone() override {
        auto capture = std::async(std::launch::async, [this] {
            std::lock_guard guard(Call_);
        });
        CouldLock_ = capture.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
    }
    ISipCallPtr GetCall() override { return nullptr; }
    void SetCall(ISipCallPtr) override {}

private:
    ISipCall& Call_;
    bool& CouldLock_;
};

TEST(EventHandover, ReleasedDevicesEndOutsideTheCallLock) {
    TSipClient client;
    std::shared_ptr<TSipClientEventTarget> target;
    const ISipEventHandlerPtr sink = SinkOf(client, target);
    const auto call = NewTestCall();
    bool couldLock = false;
    call->SetMicrophone(std::make_shared<TLockNeedingMicrophone>(*call, couldLock));
    {
        std::lock_guard guard(*call);  // the engine releases media under it
        sink->ReleaseAudioDevices(call);
        EXPECT_EQ(call->GetMicrophone(), nullptr);
    }
    PumpQueued();
    EXPECT_TRUE(couldLock) << "the device was finished while the call's lock was held";
}

TEST(EventHandover, DevicesGivenBackDuringTheComponentsDestructionEndOutsideTheCallLock) {
    // Switching the engine off ends every call while the component is being
    // destroyed, when nothing can be posted to it any more.
    const auto call = NewTestCall();
    bool couldLock = false;
    {
        TSipClient client;
        std::shared_ptr<TSipClientEventTarget> target;
        const ISipEventHandlerPtr sink = SinkOf(client, target);
        call->SetMicrophone(std::make_shared<TLockNeedingMicrophone>(*call, couldLock));
        target->Detach();  // destruction has begun
        {
            std::lock_guard guard(*call);
            sink->ReleaseAudioDevices(call);
            EXPECT_EQ(call->GetMicrophone(), nullptr);
        }
    }  // the component's destructor finishes what was given back
    EXPECT_TRUE(couldLock) << "the device was finished while the call's lock was held";
}

}  // namespace
