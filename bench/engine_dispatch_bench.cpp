// The signalling thread's cost per dispatched message: TSipEngine::Receive
// (parse, dispatch, compose and send the answer, Log) on canned datagrams,
// the way the receive thread calls it.
//
// The file also builds against trees from before the dialog object and the
// stream transports (the few calls that differ are picked at compile time),
// so that an old build and a new one measure the same thing:
// scripts/bench-dispatch-compare.sh.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "engine/engine.h"
#include "sip/transport.h"
#if __has_include("sip/stream_transport.h")
#include "sip/stream_transport.h"
#define BENCH_HAS_STREAMS 1
#endif

namespace {

// A bound UDP port on 127.0.0.1 with no reader: the engine's answers are
// really sent and, once its buffer is full, dropped by the kernel. A reading
// thread here would compete with the engine for the CPU the figures are
// about.
class TSilentUdpPort {
public:
    TSilentUdpPort() : Socket_(socket(AF_INET, SOCK_DGRAM, 0)) {
        if (Socket_ < 0) throw std::runtime_error("socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(Socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            getsockname(Socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            close(Socket_);
            throw std::runtime_error("bind");
        }
        Port_ = ntohs(address.sin_port);
    }
    ~TSilentUdpPort() { close(Socket_); }
    TSilentUdpPort(const TSilentUdpPort&) = delete;
    TSilentUdpPort& operator=(const TSilentUdpPort&) = delete;
    uint16_t LocalPort() const { return Port_; }

private:
    int Socket_;
    uint16_t Port_ = 0;
};

// The call's own tag and CSeq, from its dialog where the call has one.
template <class TCallLike>
std::string LocalTagOf(TCallLike& call) {
    if constexpr (requires { call.Dialog(); }) return call.Dialog().LocalTag();
    else return call.GetLocalTag();
}
template <class TCallLike>
int LocalCSeqOf(TCallLike& call) {
    if constexpr (requires { call.Dialog(); }) return static_cast<int>(call.Dialog().LocalCSeq());
    else return call.GetCSeq();
}
template <class TSource>
void MarkStream(TSource& source, bool stream) {
    if constexpr (requires { source.stream; }) source.stream = stream;
    else if (stream) throw std::logic_error("no stream transports in this build");
}

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
        : Transport(transport)
#ifdef BENCH_HAS_STREAMS
          ,
          StreamServer(std::optional<uint16_t>(0), [](const std::string&, uint16_t, const std::string&, bool) {},
                       [](const std::string&, uint16_t, const std::string&, bool) {})
#endif
    {
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
        TDatagramSource source{"127.0.0.1", FarPort()};
        MarkStream(source, Transport == kBenchTcp);
        Engine->Receive(reinterpret_cast<const uint8_t*>(text.data()), text.size(), source);
    }
    uint16_t FarPort() const {
#ifdef BENCH_HAS_STREAMS
        if (Transport == kBenchTcp) return StreamServer.ListenPort();
#endif
        return Server.LocalPort();
    }
    std::string Via() const { return ViaOf(Transport, FarPort()); }

    TBenchTransport Transport;
    TSilentUdpPort Server;
#ifdef BENCH_HAS_STREAMS
    TStreamTransport StreamServer;
#endif
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
                                      std::to_string(LocalCSeqOf(*call)) + " INVITE", LocalTagOf(*call), "far1"),
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
#ifdef BENCH_HAS_STREAMS
BENCHMARK(BM_OptionsAnswered)->Arg(kBenchUdp)->Arg(kBenchTcp);
#else
BENCHMARK(BM_OptionsAnswered)->Arg(kBenchUdp);
#endif

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
        Headers(bench, "INFO sip:4711@127.0.0.1 SIP/2.0", callId, "5 INFO", "far1", LocalTagOf(*call)),
        "application/dtmf-relay", "Signal=5\r\nDuration=160\r\n");
    TFreshBranch fresh(info);
    for (auto _ : state) bench.Feed(fresh.Next());
    bench.Engine->EndCall(call);
}
#ifdef BENCH_HAS_STREAMS
BENCHMARK(BM_InfoDigitOnConnectedCall)->Arg(kBenchUdp)->Arg(kBenchTcp);
#else
BENCHMARK(BM_InfoDigitOnConnectedCall)->Arg(kBenchUdp);
#endif

void BM_ReInviteOnConnectedCall(benchmark::State& state) {
    TBenchEngine bench;
    const ISipCallPtr call = bench.Engine->MakeCall(bench.Account, "5550100", -1, -1);
    const std::string callId = call->GetCallId();
    Connect(bench, call, state);
    const std::string reinvite = WithBody(
        Headers(bench, "INVITE sip:4711@127.0.0.1 SIP/2.0", callId, "7 INVITE", "far1", LocalTagOf(*call)),
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
