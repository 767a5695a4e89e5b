// One thread that paces every device needing no sound card (file and null
// microphones and speakers): a hundred calls on such devices add one thread,
// not two hundred. Each device keeps its own 20 ms grid, anchored where it
// was created, so its time line is what it was with a thread of its own.
//
// Threading: the clock's thread runs each due tick outside the clock's lock,
// one at a time. A ticket's release waits for its tick to finish, unless it is
// released by that tick itself (a call dropping its last device from inside a
// frame hand-over): then the tick's state must outlive the release, which is
// why ticks are shared and held by the thread while they run.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "media/audio_clock.h"

namespace media {

class TSharedFrameClock {
public:
    // Handles the frame due at the pacer's deadline and advances the pacer.
    using TTick = std::function<void(TFramePacer& pacer)>;

    // Keeps a tick running; releasing it stops the tick (see above).
    class TTicket {
    public:
        TTicket() = default;
        TTicket(TSharedFrameClock* clock, uint64_t id) : Clock_(clock), Id_(id) {}
        TTicket(TTicket&& other) noexcept;
        TTicket& operator=(TTicket&& other) noexcept;
        ~TTicket() { Release(); }
        void Release();

    private:
        TSharedFrameClock* Clock_ = nullptr;
        uint64_t Id_ = 0;
    };

    TSharedFrameClock();
    ~TSharedFrameClock();  // stops and joins the thread; every ticket is gone by then
    TSharedFrameClock(const TSharedFrameClock&) = delete;
    TSharedFrameClock& operator=(const TSharedFrameClock&) = delete;

    // Devices start their grids on whole milliseconds of the steady clock, so
    // the deadlines of devices created within the same millisecond coincide
    // and a hundred calls wake the thread a few times per period rather than
    // twice per call.
    static TAudioClock::time_point GridStart(TAudioClock::time_point now) {
        return std::chrono::floor<std::chrono::milliseconds>(now);
    }

    // The process's clock, created on first use.
    static TSharedFrameClock& Process();

    // `tick` runs at each deadline of a TFramePacer started at `start`.
    [[nodiscard]] TTicket Add(TAudioClock::time_point start, TTick tick);

private:
    struct TEntry {
        TFramePacer Pacer;
        TTick Tick;
    };
    using TEntryPtr = std::shared_ptr<TEntry>;

    void Remove(uint64_t id);
    void Run();
    // Adds the ids of the entries due at `now` to `due`; returns the earliest
    // deadline of the others (max when there are none). Under Mutex_.
    TAudioClock::time_point CollectDue(TAudioClock::time_point now, std::vector<uint64_t>& due) const;
    // Runs one due tick outside the lock held by `lock`.
    void RunTick(std::unique_lock<std::mutex>& lock, uint64_t id);

    std::mutex Mutex_;
    std::condition_variable Changed_;
    // Guarded by Mutex_.
    std::map<uint64_t, TEntryPtr> Entries_;
    uint64_t NextId_ = 1;
    uint64_t Running_ = 0;  // id of the tick running now, 0 for none
    bool Stopping_ = false;
    std::thread Thread_;    // last: starts once the fields above exist
};

}  // namespace media
