// Speech synthesis away from the command loop: texts are spoken one after
// another on the worker's own thread, and each result (the sound, or the
// synthesiser's error) is handed to a callback on that thread, which must
// only queue work. The destructor drops texts not started, waits for the one
// in progress and joins the thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TSpeechWorker {
public:
    struct TResult {
        std::vector<int16_t> samples;  // 8 kHz mono; empty on failure
        std::string error;             // the synthesiser's reason, or empty
    };
    using TSynthesise = std::function<std::vector<int16_t>(const std::string& text)>;
    using TDone = std::function<void(TResult result)>;

    // `synthesise` runs on the worker thread and may throw; its error text
    // becomes TResult::error.
    explicit TSpeechWorker(TSynthesise synthesise);
    ~TSpeechWorker();
    TSpeechWorker(const TSpeechWorker&) = delete;
    TSpeechWorker& operator=(const TSpeechWorker&) = delete;

    void Speak(std::string text, TDone done);

private:
    struct TJob {
        std::string text;
        TDone done;
    };
    void Run();

    const TSynthesise Synthesise_;
    std::mutex Lock_;
    std::condition_variable Wake_;
    std::deque<TJob> Jobs_;  // guarded by Lock_
    bool Stopping_ = false;  // guarded by Lock_
    std::thread Thread_;     // last: starts once the rest is ready
};
