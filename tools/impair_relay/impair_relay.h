// TImpairRelay: a UDP relay on 127.0.0.1 that spoils one direction of a media
// stream the way a poor shared line does (see TImpairment), for tests,
// benchmarks and the impair-relay program.
//
// Datagrams reaching the listening port from anyone but the target go to the
// target, impaired; datagrams from the target go back to the last other
// sender untouched. With `withControlPort`, the next port up carries the
// stream's control reports to the target's next port up the same way, but
// untouched. One thread, owned by the relay and joined by its destructor.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/impair_relay/impairment.h"

namespace relay {

// What the relay did to the impaired direction so far.
struct TRelaySummary {
    int64_t received = 0;    // datagrams taken in
    int64_t lost = 0;        // dropped on purpose
    int64_t sent = 0;        // datagrams sent on, copies included
    int64_t duplicated = 0;  // extra copies sent
    int64_t reordered = 0;   // held back so later ones overtook them
    // Interarrival jitter of the sent originals as their receiver computes it
    // (mean absolute transit change, smoothed by 1/16), in ms.
    double jitterMs = 0;
    double delayP50Ms = 0;
    double delayP95Ms = 0;

    double LossPercent() const { return received ? 100.0 * lost / received : 0; }
    std::string Text() const;
};

class TImpairRelay {
public:
    // Binds `listenPort` (0: any free port; see ListenPort) and starts.
    // Throws std::runtime_error when a port cannot be bound.
    TImpairRelay(uint16_t listenPort, uint16_t targetPort, const TImpairment& impairment,
                 bool withControlPort = false);
    ~TImpairRelay();
    TImpairRelay(const TImpairRelay&) = delete;
    TImpairRelay& operator=(const TImpairRelay&) = delete;

    uint16_t ListenPort() const { return ListenPort_; }
    TRelaySummary Summary();

private:
    struct TLink {
        int fd = -1;
        uint16_t targetPort = 0;
        bool impaired = false;
        uint16_t peerPort = 0;  // last sender other than the target
    };
    struct TPending {
        double dueMs = 0;
        double receivedMs = 0;
        bool original = true;
        int fd = -1;
        uint16_t port = 0;
        std::vector<uint8_t> data;
        bool operator>(const TPending& other) const { return dueMs > other.dueMs; }
    };
    void Run();
    bool Receive(TLink& link, double nowMs);  // false when nothing was waiting
    void SendDue(double nowMs);

    std::vector<TLink> Links_;  // fixed after construction
    uint16_t ListenPort_ = 0;
    int WakeFd_ = -1;
    TImpairmentModel Model_;

    std::mutex Lock_;  // guards Summary_ and Delays_
    TRelaySummary Summary_;
    std::vector<double> Delays_;
    double LastTransitMs_ = -1;

    std::vector<TPending> Pending_;  // relay thread only, a heap on due time
    std::atomic<bool> Stopping_{false};
    std::thread Thread_;  // last: starts once everything above exists
};

}  // namespace relay
