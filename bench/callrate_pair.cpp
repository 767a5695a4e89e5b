// Call set-up rate and signalling CPU between two agents in one process,
// over UDP, TCP and TLS on 127.0.0.1: the caller places `calls` calls,
// `parallel` at a time, to an answering agent whose listener takes the
// transport (over TLS with the certificate and key given), each answered
// and hung up. Media is left out, so the process's CPU time is the
// signalling's, both ends of every message: per call and per message
// (seven a call: INVITE, 100, 180, 200, ACK, BYE, 200), after a few calls
// that open the connections.
//
// Usage: callrate_pair CERT KEY [CALLS [PARALLEL [TRANSPORT...]]]
// CERT must name 127.0.0.1 and be its own CA (self-signed, CA:TRUE).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "call_state_wait.h"
#include "engine/engine.h"

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kMessagesPerCall = 7;
constexpr int kWarmUpCalls = 20;

double CpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Answers every call it is offered, from a thread of its own: the offer
// arrives on the engine's dispatch thread, which the answer must not hold up.
class TAnswerer : public ISipEventHandler {
public:
    explicit TAnswerer(TSipEngine& engine) : Engine_(engine), Thread_([this](std::stop_token stop) { Run(stop); }) {}
    ~TAnswerer() override {
        Thread_.request_stop();
        Offered_.notify_all();
    }

    void Invite(ISipCallPtr call) override {
        std::lock_guard<std::mutex> guard(Lock_);
        Waiting_.push_back(std::move(call));
        Offered_.notify_all();
    }
    void Ringback(ISipCallPtr) override {}
    void Silence(ISipCallPtr) override {}
    void Dtmf(ISipCallPtr, char) override {}
    void InviteOk(ISipCallPtr) override {}
    void Bye(ISipCallPtr) override {}
    void WavStopped(ISipCallPtr) override {}
    void RegistrationOk(ISipAccountPtr) override {}
    void RegistrationBye(ISipAccountPtr) override {}
    void Log(const std::string&) override {}
    void CreateAudioDevices(ISipCallPtr) override {}
    void ReleaseAudioDevices(ISipCallPtr) override {}

private:
    void Run(std::stop_token stop) {
        for (;;) {
            ISipCallPtr call;
            {
                std::unique_lock<std::mutex> guard(Lock_);
                Offered_.wait(guard, [&] { return stop.stop_requested() || !Waiting_.empty(); });
                if (stop.stop_requested()) return;
                call = std::move(Waiting_.front());
                Waiting_.pop_front();
            }
            Engine_.Answer(call);
        }
    }

    TSipEngine& Engine_;
    std::mutex Lock_;
    std::condition_variable Offered_;
    std::deque<ISipCallPtr> Waiting_;
    std::jthread Thread_;  // last: its loop uses the members above
};

struct TRun {
    int answered = 0;
    int ended = 0;
    double seconds = 0;
    double cpuSeconds = 0;
};

TSipEngineOptions QuietOptions() {
    TSipEngineOptions options;
    options.mediaPathFactory = {};
    options.switchOffLimit = 1000ms;
    return options;
}

TRun Measure(TSignallingTransport transport, const std::string& certificate, const std::string& key, int calls,
             int parallel) {
    auto callee = std::make_shared<TSipEngine>(0, QuietOptions());
    callee->SetTlsCertificate(certificate, key);
    auto answerer = std::make_shared<TAnswerer>(*callee);
    callee->SetEventHandler(answerer);
    callee->SetActive(true);
    const ISipAccountPtr called = callee->AddAccount("", "127.0.0.1:9", "5550100", "secret", "");

    auto caller = std::make_shared<TSipEngine>(0, QuietOptions());
    caller->SetActive(true);
    const ISipAccountPtr account =
        caller->AddAccount("", "127.0.0.1:" + std::to_string(callee->BoundPort()), "4711", "secret", "");
    for (const ISipAccountPtr& one : {called, account}) {
        std::lock_guard<ISipAccount> guard(*one);
        one->SetLocalIp("127.0.0.1");
        one->SetTransport(transport);
        one->SetTlsCaFile(certificate);
    }

    const auto placeCalls = [&](int count) {
        std::atomic<int> budget{count};
        TRun run;
        std::atomic<int> answered{0};
        std::atomic<int> ended{0};
        // The workers' own CPU (placing calls, polling their state) is the
        // bench's, not the signalling's: it is taken off.
        std::mutex workerLock;
        double workerCpu = 0;
        const double cpuBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto start = TClock::now();
        {
            std::vector<std::jthread> workers;
            for (int i = 0; i < parallel; ++i)
                workers.emplace_back([&] {
                    while (budget.fetch_sub(1) > 0) {
                        const ISipCallPtr call = caller->MakeCall(account, "5550100", -1, -1);
                        if (!WaitForState(call, csConnected, 10s)) {
                            caller->EndCall(call);
                            continue;
                        }
                        ++answered;
                        caller->HangUp(call);
                        if (WaitForState(call, csIdle, 10s)) ++ended;
                    }
                    std::lock_guard<std::mutex> guard(workerLock);
                    workerCpu += CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
                });
        }
        run.seconds = std::chrono::duration<double>(TClock::now() - start).count();
        run.cpuSeconds = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore - workerCpu;
        run.answered = answered;
        run.ended = ended;
        return run;
    };
    // The connection, its handshake and the trust store are set up once per
    // agent, not per call: they are left out of the figures.
    placeCalls(kWarmUpCalls);
    const TRun run = placeCalls(calls);
    caller->SetActive(false);
    callee->SetActive(false);
    callee->SetEventHandler(nullptr);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: callrate_pair CERT KEY [CALLS [PARALLEL [udp|tcp|tls...]]]\n");
        return 2;
    }
    const int calls = argc > 3 ? std::atoi(argv[3]) : 500;
    const int parallel = argc > 4 ? std::atoi(argv[4]) : 4;
    std::vector<TSignallingTransport> transports;
    for (int i = 5; i < argc; ++i) transports.push_back(ParseSignallingTransport(argv[i]));
    if (transports.empty())
        transports = {TSignallingTransport::kUdp, TSignallingTransport::kTcp, TSignallingTransport::kTls};

    bool ok = true;
    double udpCpuPerCall = 0;
    std::printf("%-4s %7s %8s %9s %12s %12s %9s\n", "", "calls", "ended", "calls/s", "cpu us/call", "cpu us/msg",
                "cpu x udp");
    for (const TSignallingTransport transport : transports) {
        const TRun run = Measure(transport, argv[1], argv[2], calls, parallel);
        const double perCall = run.ended > 0 ? run.cpuSeconds * 1e6 / run.ended : 0;
        if (transport == TSignallingTransport::kUdp) udpCpuPerCall = perCall;
        std::printf("%-4s %7d %8d %9.1f %12.0f %12.1f %9s\n", SignallingTransportName(transport).c_str(), calls,
                    run.ended, run.ended / run.seconds, perCall, perCall / kMessagesPerCall,
                    udpCpuPerCall > 0 ? (std::to_string(perCall / udpCpuPerCall).substr(0, 4)).c_str() : "-");
        ok = ok && run.ended == calls;
    }
    return ok ? 0 : 1;
}
