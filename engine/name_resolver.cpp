#include "engine/name_resolver.h"

TNameResolver::TNameResolver(TLookup lookup) : Lookup_(std::move(lookup)), Worker_([this] { Run(); }) {}

TNameResolver::~TNameResolver() {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Stopping_ = true;
    }
    Wake_.notify_all();
    Worker_.join();
}

bool TNameResolver::Ask(const std::string& key, const std::string& name) {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        if (!Outstanding_.insert(key).second) return false;
        Questions_.emplace_back(key, name);
    }
    Wake_.notify_one();
    return true;
}

std::vector<TNameResolver::TAnswer> TNameResolver::TakeAnswers() {
    std::lock_guard<std::mutex> guard(Lock_);
    std::vector<TAnswer> taken = std::move(Answers_);
    Answers_.clear();
    for (const TAnswer& answer : taken) Outstanding_.erase(answer.key);
    return taken;
}

void TNameResolver::Run() {
    std::unique_lock<std::mutex> guard(Lock_);
    for (;;) {
        Wake_.wait(guard, [this] { return Stopping_ || !Questions_.empty(); });
        if (Stopping_) return;
        auto [key, name] = std::move(Questions_.front());
        Questions_.pop_front();
        guard.unlock();
        std::string address;
        try {
            address = Lookup_(name);
        } catch (...) {
            // A look-up that fails leaves the address as it was.
        }
        guard.lock();
        Answers_.push_back(TAnswer{std::move(key), std::move(address)});
    }
}
