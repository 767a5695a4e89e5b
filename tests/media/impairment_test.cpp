// The impairment relay: its seeded model's long-run figures, and a real relay
// on loopback counting what it did.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tools/impair_relay/impair_relay.h"

namespace {

struct TModelCase {
    const char* name;
    double loss;
    double burst;
};

class ImpairmentModelTest : public ::testing::TestWithParam<TModelCase> {};

}  // namespace

TEST_P(ImpairmentModelTest, LossAndBurstLengthMatchTheSettings) {
    relay::TImpairment impairment;
    impairment.lossPercent = GetParam().loss;
    impairment.burstLength = GetParam().burst;
    impairment.jitterMs = 30;
    impairment.delayMs = 5;
    impairment.seed = 11;
    relay::TImpairmentModel model(impairment);
    const int count = 200000;
    int lost = 0, bursts = 0;
    bool previousLost = false;
    for (int n = 0; n < count; ++n) {
        const relay::TFate fate = model.Next();
        if (fate.lost) {
            ++lost;
            bursts += previousLost ? 0 : 1;
        } else {
            ASSERT_EQ(fate.sendAfterMs.size(), 1u);
            EXPECT_GE(fate.sendAfterMs[0], 5);
            EXPECT_LE(fate.sendAfterMs[0], 35);
        }
        previousLost = fate.lost;
    }
    EXPECT_NEAR(100.0 * lost / count, GetParam().loss, 0.15);
    if (lost > 0) {
        EXPECT_NEAR(static_cast<double>(lost) / bursts, GetParam().burst, 0.1 * GetParam().burst);
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, ImpairmentModelTest,
                         ::testing::Values(TModelCase{"None", 0, 1}, TModelCase{"Random1", 1, 1},
                                           TModelCase{"Random5", 5, 1}, TModelCase{"Bursty2", 2, 3},
                                           TModelCase{"Bursty5", 5, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImpairmentModelTest, SameSeedSameFates) {
    relay::TImpairment impairment;
    impairment.lossPercent = 3;
    impairment.jitterMs = 20;
    impairment.duplicatePercent = 2;
    relay::TImpairmentModel first(impairment), second(impairment);
    for (int n = 0; n < 1000; ++n) {
        const relay::TFate a = first.Next(), b = second.Next();
        ASSERT_EQ(a.lost, b.lost);
        ASSERT_EQ(a.sendAfterMs, b.sendAfterMs);
    }
}

// A real relay between two loopback sockets: what it reports is what the far
// socket got.
TEST(ImpairRelayTest, ForwardsImpairedAndCountsWhatItDid) {
    const int target = socket(AF_INET, SOCK_DGRAM, 0);
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(target, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    socklen_t size = sizeof(address);
    getsockname(target, reinterpret_cast<sockaddr*>(&address), &size);
    const uint16_t targetPort = ntohs(address.sin_port);
    timeval timeout{0, 500000};
    setsockopt(target, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    const int bufferBytes = 1 << 20;
    setsockopt(target, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof(bufferBytes));

    relay::TImpairment impairment;
    impairment.lossPercent = 10;
    impairment.duplicatePercent = 5;
    impairment.jitterMs = 4;
    relay::TImpairRelay relay(0, targetPort, impairment);
    sockaddr_in to = address;
    to.sin_port = htons(relay.ListenPort());
    for (int n = 0; n < 400; ++n) {
        const uint8_t byte = static_cast<uint8_t>(n);
        sendto(sender, &byte, 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        if (n % 20 == 19)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int got = 0;
    uint8_t byte = 0;
    while (recv(target, &byte, 1, 0) == 1)
        ++got;
    const relay::TRelaySummary summary = relay.Summary();
    close(target);
    close(sender);
    EXPECT_EQ(summary.received, 400);
    EXPECT_EQ(summary.sent, got);
    EXPECT_EQ(summary.sent, summary.received - summary.lost + summary.duplicated);
    EXPECT_GT(summary.lost, 20);
    EXPECT_GT(summary.duplicated, 5);
    // Each datagram waits its drawn share of the 4 ms jitter before it goes
    // (half of them 2 ms or more); how much longer a busy machine keeps the
    // relay's thread waiting is no fault of the relay.
    EXPECT_GE(summary.delayP50Ms, 1.5);
}
