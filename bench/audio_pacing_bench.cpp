// Pacing of the null capture device over a stretch of real time: spacing of
// the frames it hands to a call (p50, p99, extremes), their lateness against
// an ideal 20 ms grid, and the drift at the end.
// Usage: bench_audio_pacing [seconds]   (default 10)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "media/audio_file_devices.h"
#include "tests/media/audio_test_call.h"

namespace {

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

void Report(const char* what, const std::vector<double>& values) {
    std::printf("%-24s p50 %7.3f ms  p99 %7.3f ms  min %7.3f ms  max %7.3f ms\n", what,
                Percentile(values, 50), Percentile(values, 99),
                *std::min_element(values.begin(), values.end()),
                *std::max_element(values.begin(), values.end()));
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    auto call = std::make_shared<TRecordingCall>();
    {
        media::TFileMicrophone microphone("");
        microphone.SetCall(call);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        microphone.SetCall(nullptr);
    }
    std::lock_guard<std::mutex> guard(call->Mutex);
    const auto& times = call->Times;
    if (times.size() < 3) {
        std::printf("too few frames: %zu\n", times.size());
        return 1;
    }
    std::vector<double> spacing, lateness;
    for (size_t i = 1; i < times.size(); ++i)
        spacing.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    for (size_t i = 0; i < times.size(); ++i) {
        const auto ideal = times[0] + static_cast<int64_t>(i) * media::kFramePeriod;
        lateness.push_back(std::chrono::duration<double, std::milli>(times[i] - ideal).count());
    }
    // The grid is anchored at the earliest frame relative to it, so a late
    // first frame does not make the others look early.
    const double earliest = *std::min_element(lateness.begin(), lateness.end());
    for (double& late : lateness) late -= earliest;
    std::printf("null capture, %d s: %zu frames (expected %d)\n", seconds, times.size(),
                seconds * 50);
    Report("frame spacing", spacing);
    Report("lateness vs grid", lateness);
    std::printf("drift at end             %7.3f ms\n", lateness.back());
    const auto gaps = std::count_if(spacing.begin(), spacing.end(), [](double s) { return s >= 40; });
    std::printf("gaps of two frames or more: %ld\n", static_cast<long>(gaps));
    return 0;
}
