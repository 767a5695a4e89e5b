#include "tools/softphone_cli/speech_worker.h"

#include <exception>

TSpeechWorker::TSpeechWorker(TSynthesise synthesise)
    : Synthesise_(std::move(synthesise)), Thread_(&TSpeechWorker::Run, this) {}

TSpeechWorker::~TSpeechWorker() {
    {
        std::lock_guard lock(Lock_);
        Stopping_ = true;
        Jobs_.clear();
    }
    Wake_.notify_all();
    Thread_.join();
}

void TSpeechWorker::Speak(std::string text, TDone done) {
    {
        std::lock_guard lock(Lock_);
        Jobs_.push_back({std::move(text), std::move(done)});
    }
    Wake_.notify_all();
}

void TSpeechWorker::Run() {
    for (;;) {
        TJob job;
        {
            std::unique_lock lock(Lock_);
            Wake_.wait(lock, [this] { return Stopping_ || !Jobs_.empty(); });
            if (Stopping_)
                return;
            job = std::move(Jobs_.front());
            Jobs_.pop_front();
        }
        TResult result;
        try {
            result.samples = Synthesise_(job.text);
            if (result.samples.empty())
                result.error = "the synthesiser gave no sound";
        } catch (const std::exception& e) {
            result.error = e.what();
        }
        job.done(std::move(result));
    }
}
