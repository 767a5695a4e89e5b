// The one media thread: clients run when their sockets are readable or
// their moment comes, a removed client is never run again, and calls on a
// shared loop add no threads of their own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "media/call.h"
#include "media/codecs.h"
#include "media/media_loop.h"
#include "media/rtp_session.h"
#include "tests/media/rtp_test_util.h"

using namespace std::chrono_literals;
using media::IMediaClient;
using media::TMediaLoop;
using rtp_test::FreePort;
using rtp_test::TPeer;

namespace {

// Records its runs; can be made to hold the loop inside a run.
class TProbeClient : public IMediaClient {
public:
    explicit TProbeClient(int fd = -1, std::chrono::milliseconds wait = 1s) : Fd_(fd), Wait_(wait) {}

    void DrainSockets() override {
        if (Fd_ < 0)
            return;
        char byte = 0;
        while (recv(Fd_, &byte, 1, MSG_DONTWAIT) >= 0)
            ++Datagrams;
    }
    TClock::time_point ServiceMedia(TClock::time_point now) override {
        std::unique_lock<std::mutex> lock(Mutex_);
        ++Runs;
        Threads.insert(std::this_thread::get_id());
        InRun = true;
        Changed_.notify_all();
        Changed_.wait(lock, [this] { return !Hold; });
        InRun = false;
        return now + Wait_;
    }
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        std::unique_lock<std::mutex> lock(Mutex_);
        return Changed_.wait_for(lock, limit, done);
    }
    void Release() {
        {
            std::lock_guard<std::mutex> guard(Mutex_);
            Hold = false;
        }
        Changed_.notify_all();
    }

    // Guarded by Mutex_ (Datagrams only read once the runs are waited for).
    std::atomic<int> Datagrams{0};
    int Runs = 0;
    bool InRun = false;
    bool Hold = false;
    std::set<std::thread::id> Threads;

private:
    const int Fd_;
    const std::chrono::milliseconds Wait_;
    std::mutex Mutex_;
    std::condition_variable Changed_;
};

uint16_t LocalPort(int fd) {
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

int ThreadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

}  // namespace

TEST(MediaLoopTest, ReadableSocketsAndRunByWakeClientsOnOneThread) {
    TMediaLoop loop;
    TUniqueFd first(CreateUdpSocket(0));
    TUniqueFd second(CreateUdpSocket(0));
    // Both would sleep a minute: only a datagram or RunBy brings them back.
    auto a = std::make_shared<TProbeClient>(first.Get(), 60s);
    auto b = std::make_shared<TProbeClient>(second.Get(), 60s);
    const auto idA = loop.Add(a, {first.Get()});
    const auto idB = loop.Add(b, {second.Get()});
    ASSERT_TRUE(a->WaitFor([&] { return a->Runs == 1; }));
    ASSERT_TRUE(b->WaitFor([&] { return b->Runs == 1; }));

    TUniqueFd sender(CreateUdpSocket(0));
    const char byte = 1;
    ASSERT_TRUE(UdpSendTo(sender.Get(), &byte, 1, LocalPort(first.Get()), "127.0.0.1"));
    EXPECT_TRUE(a->WaitFor([&] { return a->Runs == 2; }));
    EXPECT_EQ(a->Datagrams, 1);

    loop.RunBy(idB, TMediaLoop::TClock::now());
    EXPECT_TRUE(b->WaitFor([&] { return b->Runs == 2; }));
    EXPECT_EQ(a->Runs, 2);  // nothing came for the first one since

    std::set<std::thread::id> threads = a->Threads;
    threads.insert(b->Threads.begin(), b->Threads.end());
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    loop.Remove(idA);
    loop.Remove(idB);
}

TEST(MediaLoopTest, ClientRunsAgainAtTheMomentItAskedFor) {
    TMediaLoop loop;
    auto client = std::make_shared<TProbeClient>(-1, 20ms);
    const auto id = loop.Add(client, {});
    // About 50 runs a second; a stuck timer would give one.
    EXPECT_TRUE(client->WaitFor([&] { return client->Runs >= 10; }, 10s));
    loop.Remove(id);
}

TEST(MediaLoopTest, RemoveWaitsForTheRunInProgressAndNoRunFollows) {
    TMediaLoop loop;
    auto client = std::make_shared<TProbeClient>(-1, 1ms);
    client->Hold = true;
    const auto id = loop.Add(client, {});
    ASSERT_TRUE(client->WaitFor([&] { return client->InRun; }));

    std::atomic<bool> removed{false};
    std::thread remover([&] {
        loop.Remove(id);
        removed = true;
    });
    // The remover must still be waiting while the run is held.
    EXPECT_FALSE(client->WaitFor([&] { return removed.load(); }, 200ms));
    client->Release();
    remover.join();
    EXPECT_TRUE(removed);
    int runs = 0;
    client->WaitFor([&] { runs = client->Runs; return true; });
    // It asked for 1 ms: a loop that still ran it would have by now.
    EXPECT_FALSE(client->WaitFor([&] { return client->Runs > runs; }, 100ms));
}

// Calls whose media runs on a shared loop -------------------------------------------

namespace {

TCallPtr MediaCall(const std::shared_ptr<TMediaLoop>& loop, std::shared_ptr<media::TRtpMediaPath> path,
                   uint16_t peerPort) {
    TCallSettings settings;
    settings.mediaPath = std::move(path);
    settings.mediaLoop = loop;
    TCallPtr call = TCall::Create(std::move(settings));
    call->SetCodec(media::CodecRegistry().Create(0));
    call->SetLocalRtpPort(FreePort());
    call->SetRemoteRtpHost("127.0.0.1");
    call->SetRemoteRtpPort(peerPort);
    return call;
}

}  // namespace

TEST(MediaLoopCallTest, CallsOnASharedLoopStartNoThreads) {
    auto loop = std::make_shared<TMediaLoop>();
    TPeer peer;
    std::vector<TCallPtr> calls;
    for (int n = 0; n < 20; ++n)
        calls.push_back(MediaCall(loop, std::make_shared<media::TRtpMediaPath>(), peer.Port()));
    const int before = ThreadCount();
    for (const auto& call : calls)
        call->SetMediaActive(true);
    EXPECT_EQ(ThreadCount(), before);
    for (const auto& call : calls)
        call->SetMediaActive(false);
}

// A loop held up elsewhere must not cost a frame: the speaker that asks for
// one first takes what the kernel holds for the call.
TEST(MediaLoopCallTest, PullingSpeakerTakesTheDatagramTheLoopHasNotReadYet) {
    auto loop = std::make_shared<TMediaLoop>();
    auto blocker = std::make_shared<TProbeClient>(-1, 1ms);
    blocker->Hold = true;
    const auto blockerId = loop->Add(blocker, {});
    ASSERT_TRUE(blocker->WaitFor([&] { return blocker->InRun; }));

    // The far end sends from the port the call expects it on.
    TUniqueFd sender(CreateUdpSocket(0));
    auto path = std::make_shared<media::TRtpMediaPath>();
    TCallPtr call = MediaCall(loop, path, LocalPort(sender.Get()));
    call->SetMediaActive(true);

    std::vector<uint8_t> packet(12 + 160, 0xFF);
    packet[0] = 0x80;
    packet[1] = 0;
    packet[8] = 1;
    ASSERT_TRUE(UdpSendTo(sender.Get(), packet.data(), packet.size(),
                          static_cast<uint16_t>(call->GetLocalRtpPort()), "127.0.0.1"));
    // Loopback delivery is done when the send returns; the loop is stuck.
    EXPECT_EQ(call->GetMediaReceived(), 0u);

    std::array<int16_t, 160> pcm{};
    path->PullFrame(*call, pcm.data(), static_cast<int>(pcm.size()));
    EXPECT_EQ(call->GetMediaReceived(), 1u);

    blocker->Release();
    call->SetMediaActive(false);
    loop->Remove(blockerId);
}
