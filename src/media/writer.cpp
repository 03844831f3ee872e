#include "media/writer.hpp"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <fmt/format.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#include "media/encoder.hpp"
#include "media/error.hpp"
#include "media/partial_files.hpp"

namespace vantrel::media {

namespace {

// Frames waiting for the encoder. Small: the producer only needs to stay one
// frame ahead, and every queued frame pins a pool buffer (25 MB at 2160p).
constexpr std::size_t queueCapacity = 2;

// Unwinds the writer's thread once cancelWriting() has been called.
struct Cancelled {};

std::atomic<std::int64_t> failingFrame{-1};
std::mutex finishingHookMutex;
std::function<void()> finishingHook;

// How often the writer's thread looks at a stop flag while it waits for pictures.
constexpr auto stopPollInterval = std::chrono::milliseconds(50);

// The moves a writer's status may make; every other one is refused.
bool allowed(WriterStatus from, WriterStatus to) {
    switch (from) {
    case WriterStatus::unknown:
        return to == WriterStatus::writing || to == WriterStatus::failed ||
               to == WriterStatus::cancelled;
    case WriterStatus::writing:
        return to == WriterStatus::completed || to == WriterStatus::failed ||
               to == WriterStatus::cancelled;
    case WriterStatus::completed:
    case WriterStatus::failed:
    case WriterStatus::cancelled:
        return false;
    }
    return false;
}

std::int64_t inTimescale(MediaTime time, int timescale) {
    return av_rescale_q(time.value, AVRational{1, time.timescale}, AVRational{1, timescale});
}

// What requestMediaDataWhenReady() registered. Shared with the work scheduled on
// the caller's queue, so that work never reaches into the writer.
struct MediaRequest {
    MediaRequest(SerialQueue& queue, std::function<void()> block)
        : queue(queue), block(std::move(block)) {}
    SerialQueue& queue;
    std::function<void()> block;
    std::atomic<bool> scheduled{false};
};

struct QueuedFrame {
    PixelBuffer buffer;
    std::int64_t pts; // in the encoder's time base, from the session start
};

} // namespace

struct AssetWriter::State {
    explicit State(AssetWriter& writer)
        : status(writer.status_), outputPath(writer.outputPath_), fileType(writer.fileType_) {}

    std::atomic<WriterStatus>& status;
    const std::filesystem::path& outputPath;
    const FileType fileType;

    std::mutex mutex;
    std::condition_variable changed;

    // Guarded by the mutex.
    AssetWriterInput* input = nullptr;
    MediaTime sessionStart;
    std::unique_ptr<PixelBufferPool> pool;
    std::deque<QueuedFrame> queue;
    std::shared_ptr<MediaRequest> request;
    bool inputFinished = false;
    bool finishRequested = false;
    bool released = false; // the thread has let go of the encoder and the file
    bool shuttingDown = false;
    std::function<void()> completion;
    std::optional<Error> error;

    // Read by the thread between packets.
    std::atomic<bool> cancelRequested{false};
    std::atomic<const std::atomic<bool>*> stopFlag{nullptr};

    bool stopping() const {
        const auto* flag = stopFlag.load();
        return cancelRequested || (flag && flag->load());
    }

    // Set up by startWriting(), then owned by the writer's thread.
    VideoSettings settings;
    EncoderOptions options;
    std::unique_ptr<PartialFile> partial; // removed with it unless renamed into place
    LibraryLog log;                       // before the contexts that log into it
    CodecContextPtr encoder;
    OutputContextPtr muxer;
    AVStream* stream = nullptr;
    PacketPtr packet;
    std::int64_t packetsWritten = 0;
    std::int64_t framesSent = 0;
    std::int64_t failAtFrame = -1;
    std::function<void()> whenFinishing;
    std::thread thread;

    bool readyLocked() const {
        return status == WriterStatus::writing && !inputFinished && queue.size() < queueCapacity;
    }

    // Schedules the registered block unless a call is already waiting to start.
    void wakeProducerLocked() {
        if (!request || inputFinished || request->scheduled.exchange(true))
            return;
        request->queue.async([request = request] {
            // Re-armed before the call: room that frees while it runs schedules it again.
            request->scheduled = false;
            request->block();
        });
    }

    // The one place the status changes; the mutex must be held. False, and
    // nothing changed, when the move is not allowed from the current status
    // (a cancellation that came first keeps its status). Stopping (failed or
    // cancelled) drops the queue and wakes a producer waiting for room, which
    // must learn that none will come.
    bool moveLocked(WriterStatus to, std::optional<Error> failure = std::nullopt) {
        if (!allowed(status, to))
            return false;
        status = to;
        if (to == WriterStatus::failed)
            error = std::move(failure);
        if (to == WriterStatus::failed || to == WriterStatus::cancelled) {
            if (to == WriterStatus::cancelled)
                cancelRequested = true;
            queue.clear();
            wakeProducerLocked();
            changed.notify_all();
        }
        return true;
    }

    void open();
    void run();
    void encodeUntilFinished();
    void encode(QueuedFrame next);
    void drainPackets();
    void fail(const Error& failure);
    void releaseResources();
};

void AssetWriter::State::open() {
    failAtFrame = failingFrame.load();
    {
        std::lock_guard hookLock(finishingHookMutex);
        whenFinishing = finishingHook;
    }
    removeStalePartialFiles(outputPath);
    partial = std::make_unique<PartialFile>(outputPath);
    AVFormatContext* rawMuxer = nullptr;
    const std::string muxerName(fileTypeName(fileType));
    check(avformat_alloc_output_context2(&rawMuxer, nullptr, muxerName.c_str(), nullptr),
          "set up the movie file", &log);
    muxer.reset(rawMuxer);
    log.attach(*muxer);

    encoder = openHevcEncoder(settings, options, muxer->oformat->flags & AVFMT_GLOBALHEADER, log);

    stream = avformat_new_stream(muxer.get(), nullptr);
    if (!stream)
        throw MediaError(AVERROR(ENOMEM), "add the video track");
    check(avcodec_parameters_from_context(stream->codecpar, encoder.get()),
          "describe the video track", &log);
    stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = encoder->framerate;

    // The "file:" prefix keeps a colon in the name from being read as a protocol.
    check(avio_open(&muxer->pb, ("file:" + partial->path().string()).c_str(), AVIO_FLAG_WRITE),
          "open the movie file for writing", &log);
    AVDictionary* rawOptions = nullptr;
    av_dict_set(&rawOptions, "movflags", "+write_colr", 0);
    const int rc = avformat_write_header(muxer.get(), &rawOptions);
    const DictionaryPtr unused(rawOptions);
    check(rc, "write the movie header", &log);

    packet.reset(av_packet_alloc());
    if (!packet)
        throw MediaError(AVERROR(ENOMEM), "allocate a packet");
}

void AssetWriter::State::run() {
    pthread_setname_np(pthread_self(), "vantrel.writer");
    try {
        encodeUntilFinished();
    } catch (const Cancelled&) {
        {
            // A stop flag cancels without cancelWriting(): the status moves here.
            std::lock_guard lock(mutex);
            moveLocked(WriterStatus::cancelled);
        }
        releaseResources();
    } catch (const Error& failure) {
        fail(failure);
    } catch (const std::exception& failure) {
        fail(MediaError(MediaCode::unsupported, "write the movie", failure.what()));
    }
    std::function<void()> done;
    {
        std::unique_lock lock(mutex);
        released = true;
        changed.notify_all();
        changed.wait(lock, [&] { return finishRequested || shuttingDown; });
        done = std::move(completion);
    }
    // Last: the completion may let the owner destroy the writer.
    if (done)
        done();
}

void AssetWriter::State::encodeUntilFinished() {
    for (;;) {
        std::unique_lock lock(mutex);
        while (!changed.wait_for(lock, stopPollInterval,
                                 [&] { return stopping() || !queue.empty() || finishRequested; })) {
        }
        if (stopping())
            throw Cancelled{};
        if (queue.empty())
            break;
        if (framesSent == failAtFrame) {
            // Failing with the queue full means failing while the producer waits
            // for room, the case in which only the failure itself can wake it.
            changed.wait(lock, [&] {
                return cancelRequested || inputFinished || queue.size() >= queueCapacity;
            });
            check(AVERROR(EIO), "send a picture to the HEVC encoder", &log);
        }
        QueuedFrame next = std::move(queue.front());
        queue.pop_front();
        wakeProducerLocked();
        lock.unlock();
        encode(std::move(next));
    }

    if (whenFinishing)
        whenFinishing();
    if (stopping())
        throw Cancelled{};
    check(avcodec_send_frame(encoder.get(), nullptr), "flush the HEVC encoder", &log);
    drainPackets();
    // The muxer would leave the empty track out and finish a movie with no video
    // at all: not something to hand over as a finished file.
    if (packetsWritten == 0)
        throw MediaError(MediaFailure::noVideo, "finish the movie file",
                         "no picture was written, so there is no video");
    check(av_write_trailer(muxer.get()), "finish the movie file", &log);
    check(avio_closep(&muxer->pb), "close the movie file", &log);

    std::lock_guard lock(mutex);
    // The last moment a cancellation can still keep an earlier output.
    if (stopping())
        throw Cancelled{};
    // Renaming would otherwise give the replaced file's name our default permissions.
    struct stat previous {};
    if (::stat(outputPath.c_str(), &previous) == 0 && S_ISREG(previous.st_mode))
        ::chmod(partial->path().c_str(), previous.st_mode & 07777);
    partial->renameTo(outputPath);
    partial.reset();
    moveLocked(WriterStatus::completed);
    encoder.reset();
    muxer.reset();
}

void AssetWriter::State::encode(QueuedFrame next) {
    {
        // The encoder copies the picture, so the buffer goes back to the pool at
        // the end of this scope.
        const PixelBuffer buffer = std::move(next.buffer);
        AVFrame* frame = &frameOf(buffer);
        if (frame->format != encoder->pix_fmt || frame->width != encoder->width ||
            frame->height != encoder->height)
            throw MediaError(MediaFailure::wrongPicture, "encode a picture",
                             fmt::format("the picture is {}x{} in format {}; the encoder takes "
                                         "{}x{} in format {}",
                                         frame->width, frame->height, frame->format, encoder->width,
                                         encoder->height, static_cast<int>(encoder->pix_fmt)));
        frame->pts = next.pts;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        frame->color_primaries = encoder->color_primaries;
        frame->color_trc = encoder->color_trc;
        frame->colorspace = encoder->colorspace;
        frame->color_range = encoder->color_range;
        check(avcodec_send_frame(encoder.get(), frame), "send a picture to the HEVC encoder", &log);
        ++framesSent;
    }
    drainPackets();
}

void AssetWriter::State::drainPackets() {
    for (;;) {
        if (stopping())
            throw Cancelled{};
        const int rc = avcodec_receive_packet(encoder.get(), packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return;
        check(rc, "receive a packet from the HEVC encoder", &log);
        // Without a duration the muxer would guess the last sample's length.
        if (packet->duration <= 0)
            packet->duration = options.frameStep;
        av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        check(av_interleaved_write_frame(muxer.get(), packet.get()), "write to the movie file",
              &log);
        ++packetsWritten;
    }
}

void AssetWriter::State::fail(const Error& failure) {
    {
        std::lock_guard lock(mutex);
        moveLocked(WriterStatus::failed, failure);
    }
    releaseResources();
}

void AssetWriter::State::releaseResources() {
    encoder.reset();
    muxer.reset();
    packet.reset();
    partial.reset();
}

// ---------------------------------------------------------------------------

AssetWriter::AssetWriter(std::filesystem::path outputPath, FileType fileType)
    : outputPath_(std::move(outputPath)), fileType_(fileType),
      state_(std::make_unique<State>(*this)) {
    auto folder = outputPath_.parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    const auto folderStatus = std::filesystem::status(folder, ec);
    if (!std::filesystem::exists(folderStatus))
        throw FileError(ENOENT, "write into the folder", folder);
    if (!std::filesystem::is_directory(folderStatus))
        throw FileError(ENOTDIR, "write into the folder", folder);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        throw FileError(errno, "write into the folder", folder);
}

AssetWriter::~AssetWriter() {
    State& s = *state_;
    cancelWriting();
    {
        std::lock_guard lock(s.mutex);
        s.shuttingDown = true;
        if (s.input)
            s.input->writer_ = nullptr;
        s.input = nullptr;
    }
    s.changed.notify_all();
    if (s.thread.joinable()) {
        // Destroyed from its own completion: the thread touches nothing after it.
        if (s.thread.get_id() == std::this_thread::get_id())
            s.thread.detach();
        else
            s.thread.join();
    }
}

bool AssetWriter::canAddInput(const AssetWriterInput& input) const {
    std::lock_guard lock(state_->mutex);
    return status_ == WriterStatus::unknown && !state_->input && !input.writer_;
}

void AssetWriter::addInput(AssetWriterInput& input) {
    if (!canAddInput(input))
        throw MediaError(MediaFailure::misuse, "add the video input",
                         "the writer cannot take this input");
    std::lock_guard lock(state_->mutex);
    state_->input = &input;
    input.writer_ = this;
}

bool AssetWriter::startWriting() {
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        if (status_ != WriterStatus::unknown)
            return false;
        if (!s.input) {
            s.moveLocked(WriterStatus::failed, MediaError(MediaFailure::misuse, "start writing",
                                                          "the writer has no video input"));
            return false;
        }
        s.settings = s.input->settings_;
        s.options = s.input->options_;
    }
    try {
        s.open();
    } catch (const std::exception& failure) {
        s.releaseResources();
        std::lock_guard lock(s.mutex);
        if (const auto* error = dynamic_cast<const Error*>(&failure))
            s.moveLocked(WriterStatus::failed, *error);
        else
            s.moveLocked(WriterStatus::failed, MediaError("start writing", failure.what()));
        return false;
    }
    std::lock_guard lock(s.mutex);
    if (!s.moveLocked(WriterStatus::writing)) { // cancelled while opening
        s.releaseResources();
        return false;
    }
    s.thread = std::thread([&s] { s.run(); });
    s.wakeProducerLocked();
    return true;
}

void AssetWriter::startSession(MediaTime sourceTime) {
    if (sourceTime.timescale <= 0)
        return;
    std::lock_guard lock(state_->mutex);
    state_->sessionStart = sourceTime;
}

std::optional<Error> AssetWriter::error() const {
    std::lock_guard lock(state_->mutex);
    return state_->error;
}

void AssetWriter::finishWriting(std::function<void()> completion) {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    if (s.finishRequested)
        return;
    s.finishRequested = true;
    s.inputFinished = true;
    if (s.thread.joinable()) {
        s.completion = std::move(completion);
        s.changed.notify_all();
        return;
    }
    // Nothing was ever written: there is no thread to report from.
    s.moveLocked(WriterStatus::failed,
                 MediaError(MediaFailure::misuse, "finish writing", "writing never started"));
    lock.unlock();
    if (completion)
        completion();
}

void AssetWriter::cancelWriting() {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    s.moveLocked(WriterStatus::cancelled);
    // Once this returns, nothing of the file is left.
    if (s.thread.joinable() && s.thread.get_id() != std::this_thread::get_id())
        s.changed.wait(lock, [&] { return s.released; });
}

void AssetWriter::stopWhen(const std::atomic<bool>& flag) {
    state_->stopFlag = &flag;
    state_->changed.notify_all();
}

// ---------------------------------------------------------------------------

AssetWriterInput::AssetWriterInput(VideoSettings settings, EncoderOptions options)
    : settings_(std::move(settings)), options_(std::move(options)) {}

AssetWriterInput::~AssetWriterInput() {
    if (!writer_)
        return;
    std::lock_guard lock(writer_->state_->mutex);
    writer_->state_->input = nullptr;
}

bool AssetWriterInput::isReadyForMoreMediaData() const {
    if (!writer_)
        return false;
    std::lock_guard lock(writer_->state_->mutex);
    return writer_->state_->readyLocked();
}

void AssetWriterInput::requestMediaDataWhenReady(SerialQueue& queue, std::function<void()> block) {
    auto request = std::make_shared<MediaRequest>(queue, std::move(block));
    if (!writer_) {
        // No writer will ever call again: one call lets the caller see it is not ready.
        queue.async([request] { request->block(); });
        return;
    }
    AssetWriter::State& s = *writer_->state_;
    std::lock_guard lock(s.mutex);
    if (s.inputFinished)
        return;
    s.request = std::move(request);
    s.wakeProducerLocked();
}

void AssetWriterInput::markAsFinished() {
    if (!writer_)
        return;
    std::lock_guard lock(writer_->state_->mutex);
    writer_->state_->inputFinished = true;
}

// ---------------------------------------------------------------------------

AssetWriterInputPixelBufferAdaptor::AssetWriterInputPixelBufferAdaptor(AssetWriterInput& input,
                                                                       int width, int height)
    : input_(input), width_(width), height_(height) {}

PixelBufferPool* AssetWriterInputPixelBufferAdaptor::pixelBufferPool() {
    AssetWriter* writer = input_.writer_;
    if (!writer)
        return nullptr;
    AssetWriter::State& s = *writer->state_;
    std::lock_guard lock(s.mutex);
    // Made on first use after writing started, at the adaptor's size.
    if (!s.pool && s.status == WriterStatus::writing)
        s.pool = std::make_unique<PixelBufferPool>(width_, height_);
    return s.pool.get();
}

bool AssetWriterInputPixelBufferAdaptor::appendPixelBuffer(PixelBuffer buffer,
                                                           MediaTime presentationTime) {
    AssetWriter* writer = input_.writer_;
    if (!writer || presentationTime.timescale <= 0)
        return false;
    AssetWriter::State& s = *writer->state_;
    std::lock_guard lock(s.mutex);
    if (!s.readyLocked())
        return false;
    const int timescale = s.options.timescale;
    const std::int64_t pts =
        inTimescale(presentationTime, timescale) - inTimescale(s.sessionStart, timescale);
    s.queue.push_back({std::move(buffer), pts});
    s.changed.notify_all();
    return true;
}

void failWritersAfterFrames(std::int64_t frames) {
    failingFrame = frames;
}

void onWritersFinishing(std::function<void()> hook) {
    std::lock_guard lock(finishingHookMutex);
    finishingHook = std::move(hook);
}

} // namespace vantrel::media
