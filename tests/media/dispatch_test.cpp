#include "media/dispatch.hpp"

#include <atomic>
#include <pthread.h>
#include <vector>

#include <gtest/gtest.h>

namespace vantrel::media {
namespace {

TEST(SerialQueue, RunsWorkInSubmissionOrderOneAtATimeOffTheCallersThread) {
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> ranOnCaller{false};
    const auto caller = std::this_thread::get_id();
    {
        SerialQueue queue("test.order");
        for (int i = 0; i < 500; ++i) {
            queue.async([&, i] {
                if (running.fetch_add(1) != 0)
                    overlapped = true;
                if (std::this_thread::get_id() == caller)
                    ranOnCaller = true;
                order.push_back(i);
                running.fetch_sub(1);
            });
        }
    }
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(ranOnCaller);
}

TEST(SerialQueue, KeepsEachSubmittersOrderWhenManyThreadsSubmit) {
    constexpr int threads = 4, perThread = 200;
    std::vector<int> lastSeen(threads, -1);
    std::atomic<bool> outOfOrder{false};
    {
        SerialQueue queue("test.many");
        std::vector<std::thread> submitters;
        for (int t = 0; t < threads; ++t) {
            submitters.emplace_back([&, t] {
                for (int i = 0; i < perThread; ++i) {
                    queue.async([&, t, i] {
                        if (lastSeen[t] != i - 1)
                            outOfOrder = true;
                        lastSeen[t] = i;
                    });
                }
            });
        }
        for (auto& s : submitters)
            s.join();
    }
    EXPECT_FALSE(outOfOrder);
    for (int t = 0; t < threads; ++t)
        EXPECT_EQ(lastSeen[t], perThread - 1);
}

TEST(SerialQueue, WorkSubmittedFromWorkRunsAfterItAndBeforeTheDestructorReturns) {
    std::vector<std::string> log;
    Semaphore gate(0);
    {
        SerialQueue queue("test.nested");
        queue.async([&] { gate.acquire(); }); // holds the queue until all is submitted
        queue.async([&] {
            queue.async([&] {
                log.push_back("inner");
                queue.async([&] { log.push_back("innermost"); });
            });
            log.push_back("outer");
        });
        queue.async([&] { log.push_back("second"); });
        gate.release();
        // The destructor usually starts waiting while the queue is still busy, so
        // the nested submissions arrive after stopping began.
    }
    EXPECT_EQ(log, (std::vector<std::string>{"outer", "second", "inner", "innermost"}));
}

TEST(SerialQueue, NamesItsThreadAfterTheLabelCutToFifteenCharacters) {
    struct Case {
        std::string label, expected;
    };
    for (const auto& c : {Case{"export.queue", "export.queue"},
                          Case{"a.very.long.queue.label", "a.very.long.que"}}) {
        char name[32] = {};
        {
            SerialQueue queue(c.label);
            EXPECT_EQ(queue.label(), c.label);
            queue.async([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
        }
        EXPECT_EQ(std::string(name), c.expected);
    }
}

} // namespace
} // namespace vantrel::media
