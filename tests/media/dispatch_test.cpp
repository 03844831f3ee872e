#include "media/dispatch.hpp"

#include <atomic>
#include <vector>

#include <gtest/gtest.h>

namespace vantrel::media {
namespace {

TEST(SerialQueue, RunsWorkInEachSubmittersOrderOneAtATimeOnAThreadOfItsOwn) {
    constexpr int threads = 4, perThread = 200;
    std::vector<int> lastSeen(threads, -1);
    std::atomic<int> running{0};
    std::atomic<bool> wrong{false};
    std::thread::id worker;
    {
        SerialQueue queue("test.order");
        queue.async([&] { worker = std::this_thread::get_id(); });
        std::vector<std::jthread> submitters; // joined before the queue goes
        for (int t = 0; t < threads; ++t)
            submitters.emplace_back([&, t] {
                for (int i = 0; i < perThread; ++i)
                    queue.async([&, t, i] {
                        wrong = wrong || running++ || lastSeen[t] != i - 1 ||
                                std::this_thread::get_id() != worker;
                        lastSeen[t] = i;
                        --running;
                    });
            });
    }
    EXPECT_FALSE(wrong) << "out of a submitter's order, overlapping, or on another thread";
    EXPECT_EQ(lastSeen, std::vector<int>(threads, perThread - 1));
    EXPECT_NE(worker, std::this_thread::get_id());
}

} // namespace
} // namespace vantrel::media
