// The hand-off between the decoding and the encoding thread: who blocks, and what
// closing, failing and cancelling do to the other side.

#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "exporter/hand_off.hpp"

namespace vantrel {
namespace {

TEST(HandOff, BoundedInOrderAndDrainedAfterClose) {
    HandOff<int> handOff(2);
    std::atomic<int> pushed = 0;
    std::thread producer([&] {
        for (int i = 0; i < 5; ++i) {
            handOff.push(i);
            pushed = i + 1;
        }
        handOff.close();
    });
    // The producer can be at most two items ahead of what was taken.
    for (int i = 0; i < 5; ++i) {
        auto item = handOff.pop();
        ASSERT_TRUE(item);
        EXPECT_EQ(*item, i);
        EXPECT_LE(pushed.load(), i + 3);
    }
    EXPECT_FALSE(handOff.pop());
    producer.join();
}

// A consumer that fails wakes a producer waiting for room, with its error.
TEST(HandOff, FailureReachesAWaitingSide) {
    HandOff<int> handOff(1);
    handOff.push(1);
    std::thread consumer([&] {
        handOff.pop(); // lets the producer's next push through, the one after waits
        handOff.fail(std::make_exception_ptr(std::runtime_error("encoder gone")));
    });
    EXPECT_THROW(
        {
            handOff.push(2);
            handOff.push(3);
        },
        std::runtime_error);
    consumer.join();
    EXPECT_THROW(handOff.pop(), std::runtime_error) << "waiting items are dropped";
}

TEST(HandOff, CancellationIsSeenAtTheNextCallOfEitherSide) {
    CancellationToken cancel{false};
    HandOff<int> handOff(2, &cancel);
    handOff.push(1);
    cancel = true;
    EXPECT_THROW(handOff.pop(), ExportCancelled);
    cancel = false;
    EXPECT_THROW(handOff.push(2), ExportCancelled) << "a stopped hand-off stays stopped";
}

} // namespace
} // namespace vantrel
