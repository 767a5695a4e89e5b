// The signalling thread's cost per dispatched message: TSipEngine::Receive
// (parse, dispatch, compose and send the answer, Log) on canned datagrams,
// the way the receive thread calls it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "sip/stream_transport.h"
#include "sip/transport.h"

namespace {

// The transport the far end uses, as the benchmark's argument: over TCP the
// answers go out on one connection the engine opens to the far end and
// keeps, as it would to its server.
enum TBenchTransport { kBenchUdp = 0, kBenchTcp = 1 };

std::string ViaOf(TBenchTransport transport, uint16_t port) {
    return std::string("Via: SIP/2.0/") + (transport == kBenchTcp ? "TCP" : "UDP") + " 127.0.0.1:" +
           std::to_string(port);
}

// An engine on an ephemeral port whose account's server is a socket that
// nobody reads: answers are really sent, and dropped by the kernel (over
// TCP, read and framed by the far end's connection set).
struct TBenchEngine {
    explicit TBenchEngine(TBenchTransport transport = kBenchUdp)
        : Transport(transport),
          Server(0, nullptr, [](const std::string&, uint16_t, const uint8_t*, std::size_t) {}),
          StreamServer(std::optional<uint16_t>(0), [](const std::string&, uint16_t, const std::string&, bool) {},
                       [](const std::string&, uint16_t, const std::string&, bool) {}) {
        TSipEngineOptions options;
        options.autoTick = false;
        options.keepAlivePeriod = std::chrono::hours(1);
        options.timerPeriod = std::chrono::hours(1);
        Engine = std::make_shared<TSipEngine>(0, options);
        Engine->SetActive(true);
        Account = Engine->AddAccount("", "127.0.0.1:" + std::to_string(Server.LocalPort()), "4711",
                                     "secret", "");
        std::lock_guard<ISipAccount> guard(*Account);
        Account->SetLocalIp("127.0.0.1");
    }
    void Feed(const std::string& text) {
        const TDatagramSource source{"127.0.0.1", FarPort(), Transport == kBenchTcp};
        Engine->Receive(reinterpret_cast<const uint8_t*>(text.data()), text.size(), source);
    }
    uint16_t FarPort() const { return Transport == kBenchTcp ? StreamServer.ListenPort() : Server.LocalPort(); }
    std::string Via() const { return ViaOf(Transport, FarPort()); }

    TBenchTransport Transport;
    TUdpSocket Server;
    TStreamTransport StreamServer;
    std::shared_ptr<TSipEngine> Engine;
    ISipAccountPtr Account;
};

constexpr std::size_t kBranchDigits = 12;

std::string Sdp(int port) {
    return "v=0\r\no=peer 1 1 IN IP4 127.0.0.1\r\ns=peer\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
           "m=audio " + std::to_string(port) + " RTP/AVP 0 101\r\na=rtpmap:0 PCMU/8000\r\n"
           "a=rtpmap:101 telephone-event/8000\r\n";
}

std::string Headers(const TBenchEngine& bench, const std::string& start, const std::string& callId,
                    const std::string& cseq, const std::string& fromTag, const std::string& toTag) {
    return start + "\r\n" + bench.Via() + ";branch=z9hG4bK" + std::string(kBranchDigits, '0') + ";rport\r\n"
           "Record-Route: <sip:127.0.0.1:5060;lr;ftag=" + fromTag + ">\r\n"
           "From: <sip:5550100@127.0.0.1>;tag=" + fromTag + "\r\n"
           "To: <sip:4711@127.0.0.1>" + (toTag.empty() ? "" : ";tag=" + toTag) + "\r\n"
           "Call-ID: " + callId + "\r\nCSeq: " + cseq + "\r\n"
           "Contact: <sip:5550100@127.0.0.1:5060>\r\nMax-Forwards: 70\r\n";
}

// Every request fed is a transaction of its own, as on the wire: its branch
// gets the next number (a request fed twice unchanged is a retransmission,
// which the transaction layer answers from its cache instead).
class TFreshBranch {
public:
    explicit TFreshBranch(std::string text) : Text_(std::move(text)), At_(Text_.find("z9hG4bK") + 7) {}
    const std::string& Next() {
        uint64_t n = ++Counter_;
        for (std::size_t i = 0; i < kBranchDigits; ++i, n /= 10) Text_[At_ + kBranchDigits - 1 - i] = char('0' + n % 10);
        return Text_;
    }

private:
    std::string Text_;
    std::size_t At_;
    uint64_t Counter_ = 0;
};

std::string WithBody(std::string head, const std::string& type, const std::string& body) {
    if (!type.empty()) head += "Content-Type: " + type + "\r\n";
    return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The callee's 200 to the call's INVITE: it names the INVITE's branch, or
// the client transaction takes it for nobody's answer and drops it.
void Connect(TBenchEngine& bench, const ISipCallPtr& call, benchmark::State& state) {
    std::string ok = WithBody(Headers(bench, "SIP/2.0 200 OK", call->GetCallId(),
                                      std::to_string(call->Dialog().LocalCSeq()) + " INVITE", call->Dialog().LocalTag(), "far1"),
                              "application/sdp", Sdp(30000));
    const std::size_t branch = ok.find("z9hG4bK");
    ok.replace(branch, 7 + kBranchDigits, call->GetBranch());
    bench.Feed(ok);
    if (call->GetState() != csConnected) state.SkipWithError("call did not connect");
}

void BM_OptionsAnswered(benchmark::State& state) {
    TBenchEngine bench(static_cast<TBenchTransport>(state.range(0)));
    const std::string options = WithBody(
        Headers(bench, "OPTIONS sip:4711@127.0.0.1 SIP/2.0", "opt1", "1 OPTIONS", "o1", ""), "", "");
    TFreshBranch fresh(options);
    for (auto _ : state) bench.Feed(fresh.Next());
}
BENCHMARK(BM_OptionsAnswered)->Arg(kBenchUdp)->Arg(kBenchTcp);

// The same OPTIONS again and again: each copy is answered from the cache.
void BM_OptionsCopyAnsweredAgain(benchmark::State& state) {
    TBenchEngine bench;
    const std::string options = WithBody(
        Headers(bench, "OPTIONS sip:4711@127.0.0.1 SIP/2.0", "opt1", "1 OPTIONS", "o1", ""), "", "");
    for (auto _ : state) bench.Feed(options);
}
BENCHMARK(BM_OptionsCopyAnsweredAgain);

void BM_ResponseForUnknownCall(benchmark::State& state) {
    TBenchEngine bench;
    const std::string ok = WithBody(Headers(bench, "SIP/2.0 200 OK", "nobody", "1 INVITE", "a", "b"),
                                    "application/sdp", Sdp(30000));
    for (auto _ : state) bench.Feed(ok);
}
BENCHMARK(BM_ResponseForUnknownCall);

void BM_InfoDigitOnConnectedCall(benchmark::State& state) {
    TBenchEngine bench(static_cast<TBenchTransport>(state.range(0)));
    {
        std::lock_guard<ISipAccount> guard(*bench.Account);
        bench.Account->SetState(asRegistered);
    }
    const ISipCallPtr call = bench.Engine->MakeCall(bench.Account, "5550100", -1, -1);
    const std::string callId = call->GetCallId();
    Connect(bench, call, state);
    const std::string info = WithBody(
        Headers(bench, "INFO sip:4711@127.0.0.1 SIP/2.0", callId, "5 INFO", "far1", call->Dialog().LocalTag()),
        "application/dtmf-relay", "Signal=5\r\nDuration=160\r\n");
    TFreshBranch fresh(info);
    for (auto _ : state) bench.Feed(fresh.Next());
    bench.Engine->EndCall(call);
}
BENCHMARK(BM_InfoDigitOnConnectedCall)->Arg(kBenchUdp)->Arg(kBenchTcp);

void BM_ReInviteOnConnectedCall(benchmark::State& state) {
    TBenchEngine bench;
    const ISipCallPtr call = bench.Engine->MakeCall(bench.Account, "5550100", -1, -1);
    const std::string callId = call->GetCallId();
    Connect(bench, call, state);
    const std::string reinvite = WithBody(
        Headers(bench, "INVITE sip:4711@127.0.0.1 SIP/2.0", callId, "7 INVITE", "far1", call->Dialog().LocalTag()),
        "application/sdp", Sdp(30002));
    TFreshBranch fresh(reinvite);
    for (auto _ : state) bench.Feed(fresh.Next());
    bench.Engine->EndCall(call);
}
BENCHMARK(BM_ReInviteOnConnectedCall);

void BM_StunJunk(benchmark::State& state) {
    TBenchEngine bench;
    const std::string junk("\x01\x01\x00\x0c" "0123456789ABCDEF" "\x00\x01\x00\x08", 24);
    for (auto _ : state) bench.Feed(junk);
}
BENCHMARK(BM_StunJunk);

}  // namespace

BENCHMARK_MAIN();
