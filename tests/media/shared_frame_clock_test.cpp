// The one thread that paces every card-less device: a hundred calls on null
// devices cost one thread, and ticks released while the clock runs them are
// never run again.
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "media/audio_file_devices.h"
#include "media/shared_frame_clock.h"
#include "tests/media/audio_test_call.h"

using namespace std::chrono_literals;
using namespace media;

namespace {

int ProcessThreads() {
    DIR* tasks = opendir("/proc/self/task");
    int count = 0;
    while (const dirent* entry = readdir(tasks))
        if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
    return count;
}

struct TNullCall {
    std::shared_ptr<TRecordingCall> call = std::make_shared<TRecordingCall>();
    std::shared_ptr<TFileMicrophone> microphone = std::make_shared<TFileMicrophone>("");
    std::shared_ptr<TFileSpeaker> speaker = std::make_shared<TFileSpeaker>("");

    TNullCall() { microphone->SetCall(call); }
    ~TNullCall() { microphone->SetCall(nullptr); }
};

// Counts a tick's runs and lets the test wait for a number of them.
struct TTickCounter {
    std::mutex mutex;
    std::condition_variable changed;
    int runs = 0;

    void Count() {
        {
            std::lock_guard<std::mutex> guard(mutex);
            ++runs;
        }
        changed.notify_all();
    }
    bool WaitFor(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return runs >= count; });
    }
};

}  // namespace

TEST(SharedFrameClock, HundredNullCallsAddAtMostTwoThreadsToOne) {
    std::vector<std::unique_ptr<TNullCall>> calls;
    calls.push_back(std::make_unique<TNullCall>());
    ASSERT_TRUE(calls[0]->call->WaitForFrames(1, 20s));
    const int one = ProcessThreads();
    while (calls.size() < 100) calls.push_back(std::make_unique<TNullCall>());
    for (const auto& call : calls) ASSERT_TRUE(call->call->WaitForFrames(2, 20s));
    EXPECT_LE(ProcessThreads(), one + 2);
}

TEST(SharedFrameClock, ReleasedTicksNeverRunAgain) {
    // Both cases release a ticket on the clock's own thread, where the release
    // cannot wait: a device dropped by its call inside a frame hand-over.
    struct TCase {
        const char* name;
        bool releaseOther;  // false: the tick releases itself
    };
    for (const TCase& c : {TCase{"itself", false}, TCase{"another due at the same instant", true}}) {
        SCOPED_TRACE(c.name);
        TSharedFrameClock clock;
        const auto start = TAudioClock::now();
        TTickCounter released, witness;
        std::atomic<bool> gone{false};
        std::atomic<int> runsAfterRelease{0};
        TSharedFrameClock::TTicket target;
        TSharedFrameClock::TTicket releaser;
        std::mutex ticketMutex;
        auto releaseTarget = [&] {
            std::lock_guard<std::mutex> guard(ticketMutex);
            if (!gone.exchange(true))
                target.Release();
        };
        {
            std::lock_guard<std::mutex> guard(ticketMutex);
            // Added first, so it runs first in a round where both are due.
            if (c.releaseOther)
                releaser = clock.Add(start, [&](TFramePacer& pacer) {
                    releaseTarget();
                    pacer.Advance(TAudioClock::now());
                });
            target = clock.Add(start, [&](TFramePacer& pacer) {
                if (gone) ++runsAfterRelease;
                released.Count();
                if (!c.releaseOther) releaseTarget();
                pacer.Advance(TAudioClock::now());
            });
        }
        auto other = clock.Add(start, [&](TFramePacer& pacer) {
            witness.Count();
            pacer.Advance(TAudioClock::now());
        });
        ASSERT_TRUE(witness.WaitFor(5));  // the clock went on after the release
        EXPECT_TRUE(gone);
        EXPECT_EQ(runsAfterRelease, 0);
        std::lock_guard<std::mutex> guard(released.mutex);
        EXPECT_LE(released.runs, 1);
    }
}

TEST(SharedFrameClock, AFailingTickStopsAloneAndTheOthersGoOn) {
    TSharedFrameClock clock;
    TTickCounter failing, healthy;
    auto broken = clock.Add(TAudioClock::now(), [&](TFramePacer&) {
        failing.Count();
        throw std::runtime_error("disk full");
    });
    auto fine = clock.Add(TAudioClock::now(), [&](TFramePacer& pacer) {
        healthy.Count();
        pacer.Advance(TAudioClock::now());
    });
    ASSERT_TRUE(healthy.WaitFor(5));
    std::lock_guard<std::mutex> guard(failing.mutex);
    EXPECT_EQ(failing.runs, 1);
}
