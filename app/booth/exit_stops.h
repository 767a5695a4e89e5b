// Threads that must be stopped and joined even when the program ends by
// exit() rather than by returning from main: Qt's X11 platform calls
// exit(1) when the display goes away, and then no window, replicator or
// journal is destroyed, while Qt's own statics (the SQL drivers' plugins,
// their connection list) are. A thread still running in a driver then
// faults in code already unloaded.
//
// A TExitStop registers its stop for the program's exit; the stops run,
// newest first, before the statics that were already made when the first
// one registered are destroyed. Destroying the TExitStop unregisters it:
// its owner stops the thread itself on the normal way out.
#pragma once

#include <functional>

class TExitStop {
public:
    explicit TExitStop(std::function<void()> stop);
    ~TExitStop();
    TExitStop(const TExitStop&) = delete;
    TExitStop& operator=(const TExitStop&) = delete;
};
