#include "app/preview_worker.hpp"

#include <pthread.h>

namespace vantrel::app {

namespace {

// 16-bit R′G′B′ rounded to the 8 bits a screen shows.
QImage toImage(const PreviewImage& image) {
    QImage out(image.width, image.height, QImage::Format_RGB888);
    for (int y = 0; y < image.height; ++y) {
        uchar* row = out.scanLine(y);
        const std::uint16_t* in = image.rgb.data() + std::size_t(y) * image.width * 3;
        for (int i = 0; i < image.width * 3; ++i)
            row[i] = static_cast<uchar>((in[i] * 255u + 32767u) / 65535u);
    }
    return out;
}

} // namespace

PreviewWorker::PreviewWorker(Deliver deliver)
    : deliver_(std::move(deliver)), thread_([this] { run(); }) {}

PreviewWorker::~PreviewWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        pending_.reset();
    }
    wake_.notify_one();
    thread_.join();
}

std::uint64_t PreviewWorker::request(const ExportRequest& sources, double seconds, bool reopen) {
    std::uint64_t serial;
    {
        std::lock_guard lock(mutex_);
        serial = nextSerial_++;
        // A replaced request that asked to reopen still needs the reopening.
        reopen = reopen || (pending_ && pending_->reopen);
        pending_ = Pending{serial, sources, seconds, reopen};
    }
    wake_.notify_one();
    return serial;
}

void PreviewWorker::run() {
    pthread_setname_np(pthread_self(), "vantrel.preview");
    for (;;) {
        Pending next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || pending_; });
            if (stopping_)
                return;
            next = std::move(*pending_);
            pending_.reset();
        }
        deliver_(grade(next));
    }
}

PreviewResult PreviewWorker::grade(const Pending& pending) {
    PreviewResult result;
    result.serial = pending.serial;
    try {
        if (pending.reopen || !previewer_) {
            previewer_.reset();
            previewer_ = std::make_unique<Previewer>(pending.sources);
        }
        // A new strength alone grades the picture already decoded again.
        if (pending.sources.strengthOverride)
            previewer_->setStrength(*pending.sources.strengthOverride);
        const auto sides = previewer_->sidesAt(pending.seconds);
        ++framesGraded_;
        result.source = toImage(sides.source);
        result.graded = toImage(sides.graded);
        result.seconds = sides.graded.seconds;
        result.durationSeconds = previewer_->durationSeconds();
    } catch (const Error& error) {
        previewer_.reset();
        result.error = QString::fromStdString(error.description());
    } catch (const std::exception& error) {
        previewer_.reset();
        result.error = QString::fromLocal8Bit(error.what());
    }
    return result;
}

} // namespace vantrel::app
