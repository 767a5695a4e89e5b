#include "app/booth/exit_stops.h"

#include <utility>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

struct TExitRegistry {
    std::mutex Lock;
    std::vector<std::pair<const TExitStop*, std::function<void()>>> Stops;  // oldest first
};

void RunStops();

// Made on first use and its exit handler registered just after it, so the
// handler runs before the registry (and every static made before it) goes.
TExitRegistry& Registry() {
    static TExitRegistry* registry = [] {
        static TExitRegistry made;
        std::atexit(RunStops);
        return &made;
    }();
    return *registry;
}

void RunStops() {
    TExitRegistry& registry = Registry();
    for (;;) {
        std::function<void()> stop;
        {
            std::lock_guard<std::mutex> lock(registry.Lock);
            if (registry.Stops.empty()) return;
            // Taken out first: a stop that ends its owner's registration
            // (or never returns to it) is not run twice.
            stop = std::move(registry.Stops.back().second);
            registry.Stops.pop_back();
        }
        stop();
    }
}

}  // namespace

TExitStop::TExitStop(std::function<void()> stop) {
    TExitRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.Lock);
    registry.Stops.emplace_back(this, std::move(stop));
}

TExitStop::~TExitStop() {
    TExitRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.Lock);
    std::erase_if(registry.Stops, [this](const auto& entry) { return entry.first == this; });
}
