#include "media/dispatch.hpp"

#include <pthread.h>

namespace vantrel::media {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    thread_ = std::thread([this] { runLoop(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void SerialQueue::runLoop() {
    // Linux limits thread names to 15 characters plus the terminator.
    pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !work_.empty(); });
        // Stopping only ends the loop once everything submitted has run, including
        // work that running work submits.
        if (work_.empty())
            return;
        auto work = std::move(work_.front());
        work_.pop_front();
        lock.unlock();
        work();
        work = nullptr; // release what the work captured outside the lock
        lock.lock();
    }
}

} // namespace vantrel::media
