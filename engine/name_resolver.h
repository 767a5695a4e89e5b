// Looks host names up on a thread of its own: a DNS server that does not
// answer must hold up nothing but the look-up itself.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

class TNameResolver {
public:
    // Turns a name into a dotted address; empty when it cannot.
    using TLookup = std::function<std::string(const std::string& name)>;

    struct TAnswer {
        std::string key;      // as given to Ask
        std::string address;  // empty when the name did not resolve
    };

    explicit TNameResolver(TLookup lookup);
    // Waits for a look-up under way: the system resolver cannot be
    // interrupted, and its thread must not outlive the owner.
    ~TNameResolver();
    TNameResolver(const TNameResolver&) = delete;
    TNameResolver& operator=(const TNameResolver&) = delete;

    // Queues a look-up of `name` on behalf of `key`; false (nothing queued)
    // while an earlier one for `key` is queued, under way or not yet taken.
    bool Ask(const std::string& key, const std::string& name);
    // The answers finished since the last call, oldest first.
    std::vector<TAnswer> TakeAnswers();

private:
    void Run();

    const TLookup Lookup_;
    std::mutex Lock_;
    std::condition_variable Wake_;
    std::deque<std::pair<std::string, std::string>> Questions_;  // key, name
    std::vector<TAnswer> Answers_;
    std::unordered_set<std::string> Outstanding_;  // keys asked and not taken
    bool Stopping_ = false;
    std::thread Worker_;  // last: starts once everything above exists
};
