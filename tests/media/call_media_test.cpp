// Start and stop of a call's media over real loopback sockets.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "media/call.h"
#include "sip/transport.h"

using namespace std::chrono_literals;

namespace {

// Keeps the order of device notifications and whether media was already
// active when each arrived.
class TDeviceSink : public ISipEventHandler {
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
    void Log(const std::string&) override {}
    void CreateAudioDevices(ISipCallPtr call) override {
        Events.push_back(call->GetMediaActive() ? "create:active" : "create");
    }
    void ReleaseAudioDevices(ISipCallPtr call) override {
        Events.push_back(call->GetMediaActive() ? "release:active" : "release");
    }
    std::vector<std::string> Events;  // written on the test thread only
};

// Stands in for the RTP paths: counts frames, keeps received datagrams.
class TPathProbe : public ICallMediaPath {
public:
    void SendFrame(TCall&, const int16_t* pcm) override {
        std::lock_guard<std::mutex> guard(Lock);
        Frames.push_back(pcm[0]);
    }
    void ReceiveDatagram(TCall&, const uint8_t* data, std::size_t length) override {
        std::lock_guard<std::mutex> guard(Lock);
        Datagrams.emplace_back(reinterpret_cast<const char*>(data), length);
        Arrived.notify_all();
    }
    bool WaitDatagrams(std::size_t count) {
        std::unique_lock<std::mutex> guard(Lock);
        return Arrived.wait_for(guard, 20s, [&] { return Datagrams.size() >= count; });
    }

    std::mutex Lock;
    std::condition_variable Arrived;
    std::vector<int16_t> Frames;
    std::vector<std::string> Datagrams;
};

// A loopback peer that collects what arrives on its port.
class TPeer {
public:
    TPeer()
        : Socket_(0, nullptr, [this](const std::string&, uint16_t, const uint8_t* data,
                                     std::size_t length) {
              std::lock_guard<std::mutex> guard(Lock_);
              Received_.emplace_back(reinterpret_cast<const char*>(data), length);
              Arrived_.notify_all();
          }) {}
    uint16_t Port() const { return Socket_.LocalPort(); }
    bool Send(uint16_t port, const std::string& text) {
        return Socket_.Send("127.0.0.1", port, text);
    }
    std::vector<std::string> WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> guard(Lock_);
        Arrived_.wait_for(guard, 20s, [&] { return Received_.size() >= count; });
        return Received_;
    }

private:
    std::mutex Lock_;
    std::condition_variable Arrived_;
    std::vector<std::string> Received_;
    TUdpSocket Socket_;  // last: its thread may run the handler at once
};

uint16_t FreePort() {
    TUdpSocket probe(0, nullptr, [](const std::string&, uint16_t, const uint8_t*, std::size_t) {});
    return probe.LocalPort();
}

class CallMediaTest : public ::testing::Test {
protected:
    TCallPtr NewCall() {
        TCallSettings settings;
        settings.eventSink = Sink;
        settings.mediaPath = Path;
        const TCallPtr call = TCall::Create(std::move(settings));
        call->SetLocalRtpPort(FreePort());
        call->SetRemoteRtpHost("127.0.0.1");
        call->SetRemoteRtpPort(Peer.Port());
        return call;
    }

    std::shared_ptr<TDeviceSink> Sink = std::make_shared<TDeviceSink>();
    std::shared_ptr<TPathProbe> Path = std::make_shared<TPathProbe>();
    TPeer Peer;
};

// A datagram the call takes from its peer: version 2, telephone-event
// (payload type 101, which every call accepts), then some bytes.
std::string FromPeer(const std::string& rest) { return std::string("\x80\x65", 2) + rest; }

}  // namespace

TEST_F(CallMediaTest, DevicesComeFirstAndGoLast) {
    const TCallPtr call = NewCall();
    call->SetMediaActive(true);
    EXPECT_TRUE(call->GetMediaActive());
    call->SetMediaActive(false);
    EXPECT_FALSE(call->GetMediaActive());
    EXPECT_EQ(Sink->Events, (std::vector<std::string>{"create", "release"}));
}

TEST_F(CallMediaTest, RtpFlowsBothWaysOnlyWhileMediaIsActive) {
    const TCallPtr call = NewCall();
    const uint8_t packet[] = {0x80, 0x00, 0x00, 0x01};
    EXPECT_FALSE(call->SendRtp(packet, sizeof packet));  // no socket yet

    call->SetMediaActive(true);
    EXPECT_TRUE(call->SendRtp(packet, sizeof packet));
    EXPECT_EQ(Peer.WaitFor(1).at(0), std::string("\x80\x00\x00\x01", 4));

    ASSERT_TRUE(Peer.Send(static_cast<uint16_t>(call->GetLocalRtpPort()), FromPeer("rtp-in")));
    ASSERT_TRUE(Path->WaitDatagrams(1));
    EXPECT_EQ(Path->Datagrams.at(0), FromPeer("rtp-in"));

    call->SetMediaActive(false);
    EXPECT_FALSE(call->SendRtp(packet, sizeof packet));
    // The port is free again once media stops.
    EXPECT_NO_THROW(TUdpSocket(static_cast<uint16_t>(call->GetLocalRtpPort()), nullptr,
                               [](const std::string&, uint16_t, const uint8_t*, std::size_t) {}));
}

TEST_F(CallMediaTest, CapturedFramesGoToTheSendPath) {
    const TCallPtr call = NewCall();
    int16_t frame[kFrameSamples] = {};
    frame[0] = 42;
    call->SendAudioFrame(frame);
    EXPECT_EQ(Path->Frames, std::vector<int16_t>{42});
}

TEST_F(CallMediaTest, RestartWithoutStopRebindsTheSamePort) {
    const TCallPtr call = NewCall();
    call->SetMediaActive(true);
    EXPECT_NO_THROW(call->SetMediaActive(true));
    ASSERT_TRUE(Peer.Send(static_cast<uint16_t>(call->GetLocalRtpPort()), FromPeer("again")));
    EXPECT_TRUE(Path->WaitDatagrams(1));
}

TEST_F(CallMediaTest, TakenPortFailsAndGivesTheDevicesBack) {
    const TCallPtr call = NewCall();
    call->SetLocalRtpPort(Peer.Port());
    try {
        call->SetMediaActive(true);
        FAIL() << "a taken port must not bind";
    } catch (const ESipError& error) {
        EXPECT_STREQ(error.what(), "bind failed");
    }
    EXPECT_FALSE(call->GetMediaActive());
    EXPECT_EQ(Sink->Events, (std::vector<std::string>{"create", "release"}));
}

TEST_F(CallMediaTest, DestroyingACallWithMediaClosesItsSocket) {
    TCallPtr call = NewCall();
    const auto port = static_cast<uint16_t>(call->GetLocalRtpPort());
    call->SetMediaActive(true);
    call.reset();
    EXPECT_EQ(Sink->Events, std::vector<std::string>{"create"});
    EXPECT_NO_THROW(TUdpSocket(port, nullptr,
                               [](const std::string&, uint16_t, const uint8_t*, std::size_t) {}));
}

TEST_F(CallMediaTest, WithoutAPathDatagramsAndFramesAreDropped) {
    TCallSettings settings;
    const TCallPtr call = TCall::Create(std::move(settings));
    call->SetLocalRtpPort(FreePort());
    call->SetMediaActive(true);
    int16_t frame[kFrameSamples] = {};
    call->SendAudioFrame(frame);
    ASSERT_TRUE(Peer.Send(static_cast<uint16_t>(call->GetLocalRtpPort()), "dropped"));
    call->SetMediaActive(false);
    EXPECT_FALSE(call->GetMediaActive());
}
