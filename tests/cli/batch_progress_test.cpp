// The batch's progress line: what it counts, what the time left is based on, and
// how it rounds.

#include <gtest/gtest.h>

#include "cli/batch_progress.hpp"

namespace vantrel::cli {
namespace {

TEST(BatchProgressTest, CountsRunningSharesAndRoundsTheTimeLeft) {
    const struct {
        BatchCounts counts;
        std::vector<RunningClip> running;
        double elapsed;
        std::string line;
    } cases[] = {
        // Nothing graded yet: no rate, so no estimate.
        {{4, 0, 0, 0}, {}, 10, "0/4 clips: 0 done, 0 failed, 0 skipped"},
        // Skipped clips end the batch sooner but take no time: one clip graded in 30 s,
        // one to go.
        {{4, 1, 0, 2}, {}, 30, "3/4 clips: 1 done, 0 failed, 2 skipped | 0:30 left"},
        // Running clips count by their done share; idle workers show nothing; a failed
        // clip took time like a done one. 59.5 s for 2 clips' worth, 1 left: 29.75 s.
        {{3, 0, 1, 0},
         {{"a.mp4", 1, 3}, {}, {"b.mov", 2, 3}},
         59.5,
         "1/3 clips: 0 done, 1 failed, 0 skipped | a.mp4 33%, b.mov 67% | 0:30 left"},
        // More frames than expected is a whole clip, never more; unknown totals are 0 %.
        {{3, 1, 0, 0},
         {{"a.mp4", 12, 10}, {"b.mp4", 5, 0}},
         20,
         "1/3 clips: 1 done, 0 failed, 0 skipped | a.mp4 100%, b.mp4 0% | 0:10 left"},
        {{2, 1, 0, 0}, {}, 3599.6, "1/2 clips: 1 done, 0 failed, 0 skipped | 1:00:00 left"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(batchProgressLine(c.counts, c.running, c.elapsed), c.line);
}

} // namespace
} // namespace vantrel::cli
