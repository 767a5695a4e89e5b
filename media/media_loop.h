// TMediaLoop: the one thread that carries the media of every call. It waits
// on all the calls' RTP and RTCP sockets at once (epoll) and on one timer
// (timerfd) set to the earliest moment any call asked to be run again. A
// call is run when one of its sockets is readable or its moment has come,
// and a run always takes whatever the kernel holds for the call before it
// plays out: a frame is never concealed while its packet waits unread.
//
// Sound cards keep their own threads; they reach a call directly.
//
// Owned by whoever creates it (the engine, for its calls); destruction stops
// and joins the thread. Clients are added and removed from any thread;
// Remove returns only once no run of that client is in progress, unless it
// is called from a run on the loop's own thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace media {

class IMediaClient {
public:
    using TClock = std::chrono::steady_clock;
    virtual ~IMediaClient() = default;
    // Takes every datagram already waiting on the client's sockets.
    virtual void DrainSockets() = 0;
    // Runs what is due at `now` and returns when it wants to run next.
    virtual TClock::time_point ServiceMedia(TClock::time_point now) = 0;
};

class TMediaLoop {
public:
    using TClock = IMediaClient::TClock;
    using TClientId = uint64_t;

    TMediaLoop();
    ~TMediaLoop();
    TMediaLoop(const TMediaLoop&) = delete;
    TMediaLoop& operator=(const TMediaLoop&) = delete;

    // Watches `fds` (datagram sockets, left open by the loop) for the client
    // and runs it at once. The client is reached through the weak reference
    // only while it lives.
    TClientId Add(std::weak_ptr<IMediaClient> client, const std::vector<int>& fds);
    // Stops watching the client's sockets (close them after this returns).
    void Remove(TClientId id);
    // Has the client run no later than `when`.
    void RunBy(TClientId id, TClock::time_point when);
    bool OnLoopThread() const { return std::this_thread::get_id() == Thread_.get_id(); }

    struct TState;

private:
    const std::shared_ptr<TState> State_;
    std::thread Thread_;  // last: starts once the state exists
};

}  // namespace media
