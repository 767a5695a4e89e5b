#include "media/call_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "media/call.h"

namespace {

TCallPtr NewCall(const std::string& callId) {
    TCallSettings settings;
    settings.callId = callId;
    return TCall::Create(std::move(settings));
}

}  // namespace

TEST(CallListTest, FindTakesTheFirstExactCaseSensitiveMatch) {
    TSipCalls calls;
    const TCallPtr first = NewCall("abc");
    const TCallPtr second = NewCall("abc");
    calls.Add(NewCall("ABC"));
    calls.Add(first);
    calls.Add(second);
    EXPECT_EQ(calls.FindByCallId("abc"), first);
    EXPECT_EQ(calls.FindByCallId("ab"), nullptr);
    EXPECT_EQ(calls.FindByCallId("abc "), nullptr);
    calls.Remove(first);
    EXPECT_EQ(calls.FindByCallId("abc"), second);
}

TEST(CallListTest, TheListHoldsAReferenceUntilRemovedOrCleared) {
    TSipCalls calls;
    std::weak_ptr<TCall> removed;
    std::weak_ptr<TCall> cleared;
    {
        const TCallPtr one = NewCall("1");
        const TCallPtr two = NewCall("2");
        removed = one;
        cleared = two;
        calls.Add(one);
        calls.Add(two);
    }
    EXPECT_FALSE(removed.expired());
    calls.Remove(removed.lock());
    EXPECT_TRUE(removed.expired());
    EXPECT_EQ(calls.Count(), 1);

    calls.Remove(NewCall("2"));  // not listed: nothing happens
    EXPECT_EQ(calls.Count(), 1);
    calls.Clear();
    EXPECT_TRUE(cleared.expired());
    EXPECT_EQ(calls.Count(), 0);
}

TEST(CallListTest, WalkUnderTheListLockThenTheCallLock) {
    TSipCalls calls;
    calls.Add(NewCall("x"));
    std::lock_guard<TSipCalls> list(calls);
    // Re-entrant: a path holding the list may call an operation that locks it.
    calls.Add(NewCall("y"));
    for (int index = 0; index < calls.Count(); ++index) {
        const ISipCallPtr call = calls.Get(index);
        std::lock_guard<ISipCall> guard(*call);
        call->SetState(csConnected);
    }
    EXPECT_EQ(calls.FindByCallId("y")->GetState(), csConnected);
}

// Adders, removers and finders at once, while each found call is locked and
// changed: the sanitizers must stay quiet and nothing may be lost or doubled.
TEST(CallListTest, ConcurrentUseKeepsTheListConsistent) {
    TSipCalls calls;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&calls, thread] {
            for (int index = 0; index < kPerThread; ++index) {
                const std::string id = std::to_string(thread) + "-" + std::to_string(index);
                calls.Add(NewCall(id));
                if (const ISipCallPtr found = calls.FindByCallId(id)) {
                    std::lock_guard<ISipCall> guard(*found);
                    found->SetState(csConnected);
                    found->SetState(csIdle);
                }
                if (index % 2 == 0)
                    calls.Remove(calls.FindByCallId(id));
            }
        });
    }
    std::atomic<bool> done{false};
    std::thread walker([&] {
        while (!done) {
            std::lock_guard<TSipCalls> list(calls);
            for (int index = 0; index < calls.Count(); ++index)
                (void)calls.Get(index)->GetState();
        }
    });
    for (std::thread& thread : threads)
        thread.join();
    done = true;
    walker.join();

    EXPECT_EQ(calls.Count(), kThreads * kPerThread / 2);
    for (int thread = 0; thread < kThreads; ++thread) {
        EXPECT_EQ(calls.FindByCallId(std::to_string(thread) + "-0"), nullptr);
        EXPECT_NE(calls.FindByCallId(std::to_string(thread) + "-1"), nullptr);
    }
}
