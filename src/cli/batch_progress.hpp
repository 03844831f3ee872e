#pragma once
// The batch's progress line, as a pure function of the counts, the running clips and
// the time so far, so that it reads the same whether or not a terminal shows it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

namespace vantrel::cli {

struct BatchCounts {
    std::size_t clips = 0; // in the plan (or shard)
    std::size_t done = 0;
    std::size_t failed = 0;
    std::size_t skipped = 0;
};

// A clip being graded; an empty name is an idle worker.
struct RunningClip {
    std::string name;
    std::int64_t framesDone = 0;
    std::int64_t framesExpected = 0; // 0 when unknown
};

// "m:ss", or "h:mm:ss" from an hour, rounded to the nearest second.
inline std::string clockDuration(double seconds) {
    auto s = static_cast<long long>(seconds + 0.5);
    if (s >= 3600)
        return fmt::format("{}:{:02d}:{:02d}", s / 3600, s / 60 % 60, s % 60);
    return fmt::format("{}:{:02d}", s / 60, s % 60);
}

// "4/10 clips: 2 done, 1 failed, 1 skipped | a.mp4 40%, b.mov 7% | 2:05 left".
// The time left is the clips still to grade at the rate clips have been graded so
// far, counting the done share of running ones; skipped clips cost next to nothing
// and are left out of both sides.
inline std::string batchProgressLine(const BatchCounts& counts,
                                     const std::vector<RunningClip>& running,
                                     double elapsedSeconds) {
    const auto ended = counts.done + counts.failed + counts.skipped;
    std::string line = fmt::format("{}/{} clips: {} done, {} failed, {} skipped", ended,
                                   counts.clips, counts.done, counts.failed, counts.skipped);
    double runningShare = 0;
    std::vector<std::string> current;
    for (const auto& clip : running) {
        if (clip.name.empty())
            continue;
        const double share = clip.framesExpected > 0
                                 ? std::min(1.0, static_cast<double>(clip.framesDone) /
                                                     static_cast<double>(clip.framesExpected))
                                 : 0;
        runningShare += share;
        current.push_back(fmt::format("{} {:.0f}%", clip.name, 100 * share));
    }
    if (!current.empty())
        line += fmt::format(" | {}", fmt::join(current, ", "));
    const double graded = static_cast<double>(counts.done + counts.failed) + runningShare;
    const double left = static_cast<double>(counts.clips - ended) - runningShare;
    if (graded > 0.01 && elapsedSeconds > 0 && left > 0)
        line += fmt::format(" | {} left", clockDuration(left * elapsedSeconds / graded));
    return line;
}

} // namespace vantrel::cli
