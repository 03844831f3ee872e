#pragma once
// A bounded hand-off of items (graded frames) from one producing thread to one
// consuming thread.
//
// - push() blocks while `capacity` items wait; pop() blocks while none wait.
//   Neither waits longer than the other side takes for one item.
// - close(), from the producer: no more items. pop() then returns the items
//   still waiting, then nothing.
// - fail(error), from either side: the hand-off is over. Waiting items are
//   dropped, and every push() and pop() that waits or comes later throws `error`
//   at once, so one side learns of the other's failure without polling.
// - With a cancellation flag, push() and pop() check it on entry and fail the
//   hand-off with ExportCancelled when it is set. The flag is set from a signal
//   handler, which cannot wake a waiting thread; the other side's next call is
//   at most one item away and wakes it.
//
// Thread-safe; items are moved in and out, never copied.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>

#include "exporter/exporter.hpp"

namespace vantrel {

template <typename T> class HandOff {
public:
    explicit HandOff(std::size_t capacity, const CancellationToken* cancellation = nullptr)
        : capacity_(capacity), cancellation_(cancellation) {}

    void push(T item) {
        std::unique_lock lock(mutex_);
        checkCancellationLocked();
        changed_.wait(lock, [&] { return failure_ || items_.size() < capacity_; });
        if (failure_)
            std::rethrow_exception(failure_);
        items_.push_back(std::move(item));
        changed_.notify_all();
    }

    std::optional<T> pop() {
        std::unique_lock lock(mutex_);
        checkCancellationLocked();
        changed_.wait(lock, [&] { return failure_ || closed_ || !items_.empty(); });
        if (failure_)
            std::rethrow_exception(failure_);
        if (items_.empty())
            return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        changed_.notify_all();
        return item;
    }

    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

    // The first failure wins; later ones are ignored.
    void fail(std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        failLocked(std::move(error));
    }

private:
    void failLocked(std::exception_ptr error) {
        if (failure_)
            return;
        failure_ = std::move(error);
        items_.clear();
        changed_.notify_all();
    }

    void checkCancellationLocked() {
        if (cancellation_ && cancellation_->load())
            failLocked(std::make_exception_ptr(ExportCancelled()));
    }

    const std::size_t capacity_;
    const CancellationToken* cancellation_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<T> items_;
    bool closed_ = false;
    std::exception_ptr failure_;
};

} // namespace vantrel
