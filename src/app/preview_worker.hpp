#pragma once
// Grading for the window's preview, on a thread of its own so that the window
// never waits for a frame. Requests coalesce: while one frame is graded, later
// requests replace each other and only the latest is graded next. Each result
// carries the serial of its request, so that the window can drop one older than
// what it shows.
//
// Threading: request() from any thread; `deliver` is called on the worker's
// thread. The destructor drops what is pending and waits for the frame being
// graded.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <QImage>
#include <QString>

#include "exporter/preview.hpp"

namespace vantrel::app {

struct PreviewResult {
    std::uint64_t serial = 0;
    QImage source;              // the frame as the source is
    QImage graded;              // the same frame graded as the export grades it
    double seconds = 0;         // the frame's moment
    double durationSeconds = 0; // the clip's; NaN when unknown
    QString error;              // why there is no picture; empty when there is one
};

class PreviewWorker {
public:
    using Deliver = std::function<void(PreviewResult)>;
    explicit PreviewWorker(Deliver deliver);
    ~PreviewWorker();
    PreviewWorker(const PreviewWorker&) = delete;
    PreviewWorker& operator=(const PreviewWorker&) = delete;

    // Asks for the frame at `seconds` of `sources`; `reopen` reads the job, the LUT
    // and the video again (they changed). Without it, a changed
    // sources.strengthOverride regrades the open clip. Returns the request's serial.
    std::uint64_t request(const ExportRequest& sources, double seconds, bool reopen);
    // Frames graded so far: what coalescing saves shows here.
    std::int64_t framesGraded() const { return framesGraded_; }

private:
    struct Pending {
        std::uint64_t serial;
        ExportRequest sources;
        double seconds;
        bool reopen;
    };
    void run();
    PreviewResult grade(const Pending& pending);

    Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Pending> pending_;
    std::uint64_t nextSerial_ = 1;
    bool stopping_ = false;
    std::atomic<std::int64_t> framesGraded_{0};
    std::unique_ptr<Previewer> previewer_; // the worker thread's alone
    std::thread thread_;                   // last: started once the rest exists
};

} // namespace vantrel::app
