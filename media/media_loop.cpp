#include "media/media_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include "sip/transport.h"

namespace media {

namespace {

// epoll tags below the first client id.
constexpr uint64_t kWakeTag = 0;
constexpr uint64_t kTimerTag = 1;
constexpr uint64_t kFirstClientId = 2;

constexpr auto kNever = IMediaClient::TClock::time_point::max();

void Watch(int epoll, int fd, uint64_t tag) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = tag;
    if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) != 0)
        throw std::runtime_error("The media loop cannot watch a socket.");
}

void Signal(int eventFd) {
    uint64_t one = 1;
    // A failed write means a wake is already pending.
    [[maybe_unused]] ssize_t written = write(eventFd, &one, sizeof(one));
}

void Consume(int fd) {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t got = read(fd, &count, sizeof(count));
}

}  // namespace

struct TMediaLoop::TState {
    struct TEntry {
        std::weak_ptr<IMediaClient> client;
        std::vector<int> fds;
        TClock::time_point due;
    };

    TState()
        : Epoll(epoll_create1(EPOLL_CLOEXEC)),
          Timer(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
          Wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (Epoll.Get() < 0 || Timer.Get() < 0 || Wake.Get() < 0)
            throw std::runtime_error("The media loop cannot be created.");
        Watch(Epoll.Get(), Wake.Get(), kWakeTag);
        Watch(Epoll.Get(), Timer.Get(), kTimerTag);
    }

    void Run();
    // Sets the timer to the earliest due moment; caller holds Mutex.
    void ArmLocked();
    void RunClient(TClientId id);

    const TUniqueFd Epoll, Timer, Wake;
    std::mutex Mutex;
    std::condition_variable RunEnded;
    // Guarded by Mutex.
    std::unordered_map<TClientId, TEntry> Clients;
    TClientId NextId = kFirstClientId;
    TClientId Running = 0;
    bool Stopping = false;
    TClock::time_point Armed = kNever;
};

void TMediaLoop::TState::ArmLocked() {
    TClock::time_point earliest = kNever;
    for (const auto& [id, entry] : Clients)
        earliest = std::min(earliest, entry.due);
    if (earliest == Armed)
        return;
    Armed = earliest;
    itimerspec due{};
    if (earliest != kNever) {
        // The steady clock is CLOCK_MONOTONIC; a zero time would disarm, so
        // a moment already past becomes the first nanosecond.
        const auto ns = std::max<int64_t>(
            1, std::chrono::duration_cast<std::chrono::nanoseconds>(earliest.time_since_epoch()).count());
        due.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        due.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    timerfd_settime(Timer.Get(), TFD_TIMER_ABSTIME, &due, nullptr);
}

void TMediaLoop::TState::RunClient(TClientId id) {
    std::shared_ptr<IMediaClient> client;
    {
        std::lock_guard<std::mutex> guard(Mutex);
        const auto entry = Clients.find(id);
        if (entry == Clients.end())
            return;
        client = entry->second.client.lock();
        if (!client) {
            entry->second.due = kNever;  // going away: its Remove follows
            return;
        }
        Running = id;
        entry->second.due = kNever;  // a RunBy during the run still counts
    }
    TClock::time_point next = TClock::now() + std::chrono::milliseconds(100);
    try {
        client->DrainSockets();
        next = client->ServiceMedia(TClock::now());
    } catch (...) {
        // One bad datagram or report must never stop the media of any call.
    }
    {
        std::lock_guard<std::mutex> guard(Mutex);
        Running = 0;
        const auto entry = Clients.find(id);
        if (entry != Clients.end())
            entry->second.due = std::min(entry->second.due, next);
    }
    RunEnded.notify_all();
    // The last reference may go here, on the loop's thread: the client's
    // Remove then does not wait for itself.
    client.reset();
}

void TMediaLoop::TState::Run() {
    std::array<epoll_event, 64> events{};
    std::vector<TClientId> ready;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(Mutex);
            if (Stopping)
                return;
            ArmLocked();
        }
        const int count = epoll_wait(Epoll.Get(), events.data(), static_cast<int>(events.size()), -1);
        ready.clear();
        bool fired = false;
        for (int index = 0; index < count; ++index) {
            const uint64_t tag = events[static_cast<std::size_t>(index)].data.u64;
            if (tag == kWakeTag)
                Consume(Wake.Get());
            else if (tag == kTimerTag) {
                Consume(Timer.Get());
                fired = true;
            }
            else
                ready.push_back(tag);
        }
        {
            std::lock_guard<std::mutex> guard(Mutex);
            if (Stopping)
                return;
            const TClock::time_point now = TClock::now();
            for (auto& [id, entry] : Clients) {
                if (entry.due <= now) {
                    ready.push_back(id);
                    fired = true;
                }
            }
            // A timer that fired, or a moment now taken, must be set anew.
            if (fired)
                Armed = TClock::time_point::min();
        }
        std::sort(ready.begin(), ready.end());
        ready.erase(std::unique(ready.begin(), ready.end()), ready.end());
        for (const TClientId id : ready)
            RunClient(id);
    }
}

TMediaLoop::TMediaLoop() : State_(std::make_shared<TState>()) {
    Thread_ = std::thread([state = State_] { state->Run(); });
}

TMediaLoop::~TMediaLoop() {
    {
        std::lock_guard<std::mutex> guard(State_->Mutex);
        State_->Stopping = true;
    }
    Signal(State_->Wake.Get());
    // Destroyed from a run on its own thread (a client that held the last
    // reference went away there): the thread cannot join itself; it sees
    // the stop once the run returns and ends holding only the state.
    if (OnLoopThread())
        Thread_.detach();
    else
        Thread_.join();
}

TMediaLoop::TClientId TMediaLoop::Add(std::weak_ptr<IMediaClient> client, const std::vector<int>& fds) {
    std::lock_guard<std::mutex> guard(State_->Mutex);
    const TClientId id = State_->NextId++;
    for (std::size_t index = 0; index < fds.size(); ++index) {
        try {
            Watch(State_->Epoll.Get(), fds[index], id);
        } catch (...) {
            for (std::size_t undo = 0; undo < index; ++undo)
                epoll_ctl(State_->Epoll.Get(), EPOLL_CTL_DEL, fds[undo], nullptr);
            throw;
        }
    }
    State_->Clients[id] = TState::TEntry{std::move(client), fds, TClock::now()};
    Signal(State_->Wake.Get());
    return id;
}

void TMediaLoop::Remove(TClientId id) {
    std::unique_lock<std::mutex> lock(State_->Mutex);
    const auto entry = State_->Clients.find(id);
    if (entry == State_->Clients.end())
        return;
    for (const int fd : entry->second.fds)
        epoll_ctl(State_->Epoll.Get(), EPOLL_CTL_DEL, fd, nullptr);
    State_->Clients.erase(entry);
    if (OnLoopThread())
        return;
    State_->RunEnded.wait(lock, [this, id] { return State_->Running != id; });
}

void TMediaLoop::RunBy(TClientId id, TClock::time_point when) {
    bool sooner = false;
    {
        std::lock_guard<std::mutex> guard(State_->Mutex);
        const auto entry = State_->Clients.find(id);
        if (entry == State_->Clients.end() || entry->second.due <= when)
            return;
        entry->second.due = when;
        // From a run on the loop's thread the timer is set again anyway.
        sooner = when < State_->Armed && !OnLoopThread();
    }
    if (sooner)
        Signal(State_->Wake.Get());
}

}  // namespace media
