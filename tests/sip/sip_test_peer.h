// Test doubles for the engine: a SIP peer on a loopback UDP socket that
// records what it receives, and an event sink that records what it is told.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sip/message.h"
#include "sip/sipints.h"
#include "sip/transport.h"

namespace sip_test {

using namespace std::chrono_literals;

// How long a test waits for something that must happen. Only a fault
// reaches it: a busy machine (both cores building, the sanitizers on) can
// take seconds to deliver a datagram or run a step, and a wait ends as soon
// as its event is there.
inline constexpr std::chrono::milliseconds kEventCeiling = 20000ms;

// A UDP endpoint on 127.0.0.1 with a port of its own.
class TFakePeer {
public:
    TFakePeer();
    uint16_t Port() const { return Socket_->LocalPort(); }
    // The next datagram, or an empty text when none arrives in time. Keep-
    // alives are skipped unless asked for.
    std::string Next(std::chrono::milliseconds timeout = kEventCeiling, bool keepAlives = false);
    // The next datagram that parses with this CSeq method (and status, when
    // given), skipping others; empty when none arrives in time.
    std::string NextOf(const std::string& method, const std::string& status = "",
                       std::chrono::milliseconds timeout = kEventCeiling);
    // True when nothing but keep-alives arrives within `quiet`.
    bool Silent(std::chrono::milliseconds quiet = 300ms);
    void Send(const std::string& text, uint16_t port);
    void Clear();

private:
    std::mutex Lock_;
    std::condition_variable Arrived_;
    std::deque<std::string> Received_;
    std::unique_ptr<TUdpSocket> Socket_;
};

// Records every notification as one line of text ("InviteOk", "Dtmf #", ...)
// and keeps the last call offered.
class TRecordingSink : public ISipEventHandler {
public:
    void Invite(ISipCallPtr call) override;
    void Ringback(ISipCallPtr) override { Add("Ringback"); }
    void Silence(ISipCallPtr) override { Add("Silence"); }
    void Dtmf(ISipCallPtr, char digit) override { Add(std::string("Dtmf ") + digit); }
    void InviteOk(ISipCallPtr) override { Add("InviteOk"); }
    void Bye(ISipCallPtr) override { Add("Bye"); }
    void WavStopped(ISipCallPtr) override { Add("WavStopped"); }
    void RegistrationOk(ISipAccountPtr) override { Add("RegistrationOk"); }
    void RegistrationBye(ISipAccountPtr) override { Add("RegistrationBye"); }
    void Log(const std::string&) override {}
    void CreateAudioDevices(ISipCallPtr) override { Add("CreateAudioDevices"); }
    void ReleaseAudioDevices(ISipCallPtr) override { Add("ReleaseAudioDevices"); }
    void TransferRequest(ISipCallPtr, const std::string& target) override {
        Add("TransferRequest " + target);
    }
    // With the call's state as the host finds it then.
    void TransferStatus(ISipCallPtr call, int status) override {
        Add("TransferStatus " + std::to_string(status) + (call->GetState() == csConnected ? " connected" : ""));
    }

    std::vector<std::string> Events();
    int Count(const std::string& event);
    bool WaitFor(const std::string& event, int count = 1, std::chrono::milliseconds timeout = kEventCeiling);
    ISipCallPtr OfferedCall();
    // A call keeps its sink, so a sink that keeps a call must let it go.
    void ForgetCalls();

private:
    void Add(const std::string& event);
    std::mutex Lock_;
    std::condition_variable Changed_;
    std::vector<std::string> Events_;
    ISipCallPtr Offered_;
};

// Polls `done` until it holds or `timeout` passes. Events are raised before
// the engine finishes the step that raised them (a call leaves the list after
// its Bye), so checks of the aftermath poll.
template <typename TPredicate>
bool WaitUntil(TPredicate done, std::chrono::milliseconds timeout = kEventCeiling) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A free UDP port on this machine (bound once and released).
uint16_t FreeUdpPort();

// Builds a response to `request` from the peer's side: Via, From, To (with
// `toTag` added when given), Call-ID and CSeq copied, then `extraHeaders`
// (each ending in CR LF) and an optional body.
std::string Respond(const std::string& request, const std::string& status,
                    const std::string& toTag = "", const std::string& extraHeaders = "",
                    const std::string& body = "");

// An SDP answer offering `payloads` at 127.0.0.1:`port`.
std::string SdpBody(int port, const std::string& payloads);

}  // namespace sip_test
