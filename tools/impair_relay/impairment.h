// The seeded decisions of the impairment relay, kept apart from its sockets
// so that tests can check the statistics without a network.
//
// Loss follows a two-state Gilbert-Elliott chain: every datagram is lost in
// the bad state and kept in the good one. The chance of leaving the bad state
// is 1 / burstLength, the chance of entering it is chosen so the long-run loss
// is lossPercent; burstLength 1 gives independent loss. A kept datagram waits
// delayMs plus an extra time drawn uniformly from 0..jitterMs; a reordered one
// waits reorderMs more, so the ones after it overtake it; a duplicated one is
// sent twice, the copy 1 ms after the original.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace relay {

struct TImpairment {
    double lossPercent = 0;
    double burstLength = 1;  // mean length of a loss burst, in datagrams
    double delayMs = 0;
    double jitterMs = 0;
    double reorderPercent = 0;
    double reorderMs = 40;
    double duplicatePercent = 0;
    uint64_t seed = 1;
};

// What happens to one datagram: no sends when lost, else one or two delays.
struct TFate {
    bool lost = false;
    bool reordered = false;
    std::vector<double> sendAfterMs;
};

class TImpairmentModel {
public:
    explicit TImpairmentModel(const TImpairment& impairment);

    TFate Next();

private:
    double Uniform() { return Uniform_(Random_); }

    TImpairment Impairment_;
    double EnterBad_ = 0;
    double LeaveBad_ = 1;
    bool Bad_ = false;
    std::mt19937_64 Random_;
    std::uniform_real_distribution<double> Uniform_{0.0, 1.0};
};

}  // namespace relay
