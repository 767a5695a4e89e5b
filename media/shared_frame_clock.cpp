#include "media/shared_frame_clock.h"

#include <exception>
#include <utility>

namespace media {

TSharedFrameClock::TTicket::TTicket(TTicket&& other) noexcept
    : Clock_(std::exchange(other.Clock_, nullptr)), Id_(std::exchange(other.Id_, 0)) {}

TSharedFrameClock::TTicket& TSharedFrameClock::TTicket::operator=(TTicket&& other) noexcept {
    if (this != &other) {
        Release();
        Clock_ = std::exchange(other.Clock_, nullptr);
        Id_ = std::exchange(other.Id_, 0);
    }
    return *this;
}

void TSharedFrameClock::TTicket::Release() {
    if (Clock_)
        std::exchange(Clock_, nullptr)->Remove(Id_);
}

TSharedFrameClock::TSharedFrameClock() : Thread_([this] { Run(); }) {}

TSharedFrameClock::~TSharedFrameClock() {
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        Stopping_ = true;
    }
    Changed_.notify_all();
    Thread_.join();
}

TSharedFrameClock& TSharedFrameClock::Process() {
    static TSharedFrameClock clock;
    return clock;
}

TSharedFrameClock::TTicket TSharedFrameClock::Add(TAudioClock::time_point start, TTick tick) {
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        id = NextId_++;
        Entries_.emplace(id, std::make_shared<TEntry>(TEntry{TFramePacer(start), std::move(tick)}));
    }
    Changed_.notify_all();  // the new deadline may be the earliest
    return TTicket(this, id);
}

void TSharedFrameClock::Remove(uint64_t id) {
    std::unique_lock<std::mutex> lock(Mutex_);
    Entries_.erase(id);
    if (std::this_thread::get_id() != Thread_.get_id())
        Changed_.wait(lock, [&] { return Running_ != id; });
}

TAudioClock::time_point TSharedFrameClock::CollectDue(TAudioClock::time_point now,
                                                     std::vector<uint64_t>& due) const {
    auto next = TAudioClock::time_point::max();
    for (const auto& [id, entry] : Entries_) {
        const auto deadline = entry->Pacer.GetDeadline();
        if (deadline <= now)
            due.push_back(id);
        else if (deadline < next)
            next = deadline;
    }
    return next;
}

void TSharedFrameClock::RunTick(std::unique_lock<std::mutex>& lock, uint64_t id) {
    // An earlier tick of this round may have released this one.
    const auto found = Entries_.find(id);
    if (found == Entries_.end())
        return;
    const TEntryPtr entry = found->second;
    Running_ = id;
    lock.unlock();
    bool failed = false;
    try {
        entry->Tick(entry->Pacer);  // a tick released meanwhile ends on this copy
    } catch (const std::exception&) {
        failed = true;  // a device whose frame fails (a full disk) stops; the others go on
    }
    lock.lock();
    Running_ = 0;
    if (failed)
        Entries_.erase(id);
    Changed_.notify_all();
}

void TSharedFrameClock::Run() {
    TryRaiseThreadPriority();
    std::vector<uint64_t> due;
    std::unique_lock<std::mutex> lock(Mutex_);
    while (!Stopping_) {
        due.clear();
        const auto next = CollectDue(TAudioClock::now(), due);
        for (const uint64_t id : due)
            RunTick(lock, id);
        if (!due.empty())
            continue;  // time has passed: look again before waiting
        if (next == TAudioClock::time_point::max())
            Changed_.wait(lock);
        else
            Changed_.wait_until(lock, next);
    }
}

}  // namespace media
