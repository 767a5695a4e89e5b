// Call set-up rate against an answering SIP peer: places `calls` calls to
// 127.0.0.1:`port`, `parallel` at a time, each answered, then hung up, and
// prints how many were placed, answered and ended, the rates, and whether
// every call and RTP port was let go afterwards.
//
// Usage: callrate PORT [CALLS [PARALLEL [udp|tcp|tls [CAFILE]]]]
// (exit code 0 when all succeeded). Over TLS the peer's certificate must
// name 127.0.0.1 and come from CAFILE or the system's store.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "call_state_wait.h"
#include "engine/engine.h"

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct TCounts {
    std::atomic<int> placed{0};
    std::atomic<int> answered{0};
    std::atomic<int> ended{0};
};

// One worker: calls in turn until the shared budget is spent.
void PlaceCalls(TSipEngine& engine, const ISipAccountPtr& account, std::atomic<int>& budget,
                TCounts& counts) {
    while (budget.fetch_sub(1) > 0) {
        const ISipCallPtr call = engine.MakeCall(account, "5550100", -1, -1);
        ++counts.placed;
        if (!WaitForState(call, csConnected, 10s)) {
            engine.EndCall(call);
            continue;
        }
        ++counts.answered;
        engine.HangUp(call);
        if (WaitForState(call, csIdle, 10s)) ++counts.ended;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: callrate PORT [CALLS [PARALLEL [udp|tcp|tls [CAFILE]]]]\n");
        return 2;
    }
    const std::string port = argv[1];
    const int calls = argc > 2 ? std::atoi(argv[2]) : 200;
    const int parallel = argc > 3 ? std::atoi(argv[3]) : 4;
    const TSignallingTransport transport = argc > 4 ? ParseSignallingTransport(argv[4]) : TSignallingTransport::kUdp;

    TSipEngineOptions options;
    options.autoTick = false;
    auto engine = std::make_shared<TSipEngine>(0, options);
    engine->SetActive(true);
    const ISipAccountPtr account = engine->AddAccount("", "127.0.0.1:" + port, "4711", "secret", "");
    {
        std::lock_guard<ISipAccount> guard(*account);
        account->SetLocalIp("127.0.0.1");
        account->SetTransport(transport);
        if (argc > 5) account->SetTlsCaFile(argv[5]);
    }

    TCounts counts;
    std::atomic<int> budget{calls};
    const auto start = TClock::now();
    {
        std::vector<std::jthread> workers;
        for (int i = 0; i < parallel; ++i)
            workers.emplace_back([&] { PlaceCalls(*engine, account, budget, counts); });
    }
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();

    // Ended calls leave the list once their BYE is answered.
    const auto deadline = TClock::now() + 5s;
    while (TClock::now() < deadline &&
           (engine->Calls().Count() != 0 || engine->Ports().InUseCount() != 0))
        std::this_thread::sleep_for(10ms);
    const int listed = engine->Calls().Count();
    const std::size_t ports = engine->Ports().InUseCount();

    std::printf("calls %d, parallel %d, %s, %.2f s\n", calls, parallel,
                SignallingTransportName(transport).c_str(), seconds);
    std::printf("placed %d (%.1f/s), answered %d (%.1f/s), hung up %d (%.1f/s)\n",
                counts.placed.load(), counts.placed / seconds, counts.answered.load(),
                counts.answered / seconds, counts.ended.load(), counts.ended / seconds);
    std::printf("afterwards: %d calls listed, %zu RTP ports held\n", listed, ports);
    engine->SetActive(false);
    const bool ok = counts.ended == calls && listed == 0 && ports == 0;
    return ok ? 0 : 1;
}
