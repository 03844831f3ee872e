#pragma once
// Dispatch: serial queues and counting semaphores over the standard library.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>

namespace vantrel::media {

using Semaphore = std::counting_semaphore<>;

// Runs submitted work one item at a time, in order, on a thread of its own.
// async() may be called from any thread, also from work running on the queue.
// The destructor runs the work already submitted, then joins the thread.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }
    void async(std::function<void()> work);

private:
    void runLoop();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> work_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace vantrel::media
