#pragma once
// Writing one HEVC Main 10 video track into a QuickTime movie or MPEG-4 file.
//
// AssetWriter owns the file and an encoder thread; AssetWriterInput is the video
// input with a small bounded queue in front of the encoder; the pixel-buffer
// adaptor appends PixelBuffers from its pool with presentation times.
//
// The file is written under a temporary name beside the output and renamed into
// place only when finishing succeeds; a cancelled or failed writer removes what it
// wrote, so the output path never holds a partial file.
//
// Threading: appends, readiness checks and markAsFinished() come from one thread
// (the export's serial queue); status(), error() and cancelWriting() from any.
// The encoder (libx265, with threads of its own) runs on the writer's thread, so
// the producer grades frame n+1 while frame n is encoded.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/error.hpp"
#include "media/dispatch.hpp"
#include "media/frame.hpp"
#include "media/video_settings.hpp"

namespace vantrel::media {

enum class WriterStatus { unknown, writing, completed, failed, cancelled };

// A time of value/timescale seconds.
struct MediaTime {
    std::int64_t value = 0;
    std::int32_t timescale = 1;
};

class AssetWriter;

class AssetWriterInput {
public:
    explicit AssetWriterInput(VideoSettings settings, EncoderOptions options = {});
    ~AssetWriterInput();
    AssetWriterInput(const AssetWriterInput&) = delete;
    AssetWriterInput& operator=(const AssetWriterInput&) = delete;

    const VideoSettings& outputSettings() const { return settings_; }
    const EncoderOptions& encoderOptions() const { return options_; }

    // True while the writer is writing, the input is not finished and its queue has room.
    bool isReadyForMoreMediaData() const;
    // Calls `block` on `queue` whenever the input can take more, and once more when
    // the writer stops (fails or is cancelled) so the caller can notice; never after
    // markAsFinished(). The queue must outlive the writer's use of it.
    void requestMediaDataWhenReady(SerialQueue& queue, std::function<void()> block);
    void markAsFinished();

private:
    friend class AssetWriter;
    friend class AssetWriterInputPixelBufferAdaptor;
    VideoSettings settings_;
    EncoderOptions options_;
    AssetWriter* writer_ = nullptr;
};

class AssetWriterInputPixelBufferAdaptor {
public:
    // Buffers of width × height (the encoded size).
    AssetWriterInputPixelBufferAdaptor(AssetWriterInput& input, int width, int height);

    // Nothing before the writer has started writing.
    FramePool* pixelBufferPool();
    // Queues the picture for encoding; false when the input cannot take it (the
    // writer is not writing, the input is finished or its queue is full).
    bool appendPixelBuffer(Frame buffer, MediaTime presentationTime);

private:
    AssetWriterInput& input_;
    int width_;
    int height_;
};

class AssetWriter {
public:
    // Throws FileError when the output's folder does not exist or is not writable.
    AssetWriter(std::filesystem::path outputPath, FileType fileType);
    ~AssetWriter(); // cancels writing if it was neither finished nor cancelled
    AssetWriter(const AssetWriter&) = delete;
    AssetWriter& operator=(const AssetWriter&) = delete;

    const std::filesystem::path& outputPath() const { return outputPath_; }
    FileType fileType() const { return fileType_; }

    // False once writing has started, or when an input is already added.
    bool canAddInput(const AssetWriterInput& input) const;
    void addInput(AssetWriterInput& input);

    // Opens the encoder and the file and writes the header. False on failure;
    // status() is then failed and error() says why.
    bool startWriting();
    void startSession(MediaTime sourceTime);

    WriterStatus status() const { return status_.load(); }
    std::optional<Error> error() const;

    // Flushes the encoder, writes the trailer, renames the file into place and
    // calls `completion` from the writer's thread (at once, on the calling thread,
    // when writing never started). Also calls it when writing failed or was
    // cancelled; status() tells which. Finishing without a single frame fails:
    // a movie without its video track is no result.
    void finishWriting(std::function<void()> completion);
    // Stops at once and removes what was written. Safe to call from any thread.
    void cancelWriting();
    // From now on the writer cancels itself as soon as `flag` is true, up to the
    // moment the finished file is renamed into place: between pictures, during the
    // encoder's flush and before the rename. The flag must outlive the writer.
    void stopWhen(const std::atomic<bool>& flag);

private:
    friend class AssetWriterInput;
    friend class AssetWriterInputPixelBufferAdaptor;
    struct State;
    std::filesystem::path outputPath_;
    FileType fileType_;
    std::atomic<WriterStatus> status_{WriterStatus::unknown};
    std::unique_ptr<State> state_;
};

// Test seam: every writer started after this call fails as its encoder would,
// with an I/O error, when picture number `frames` (0-based) is next and its
// queue is full, so that the producer is waiting for room. The exports above
// can so be tested against a writer that stops part-way. A negative number
// turns it off (the default).
void failWritersAfterFrames(std::int64_t frames);
// Test seam: every writer started after this call runs `hook` on its own thread
// once its last picture has gone to the encoder, before the flush and the rename
// (the moment a cancellation is easiest to lose). An empty hook turns it off.
void onWritersFinishing(std::function<void()> hook);

} // namespace vantrel::media
