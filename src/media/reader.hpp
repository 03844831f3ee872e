#pragma once
// Reading decoded pictures from one video track, with libavcodec's frame threads
// doing the decoding. Pictures keep the source's bit depth, matrix and range.
//
// Threading: an AssetReader and its output are used from one thread at a time
// (the export's serial queue), except cancelReading(), which may come from any.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "media/asset.hpp"
#include "media/error.hpp"
#include "media/pixel_buffer.hpp"

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;

namespace vantrel::media {

enum class ReaderStatus { unknown, reading, completed, failed, cancelled };

// One decoded picture. Owns its frame; the samples are the decoder's own, not a copy.
class DecodedSample {
public:
    explicit DecodedSample(FramePtr frame);
    // Nothing for a sample that carries no picture.
    AVFrame* imageBuffer() const { return frame_.get(); }

private:
    FramePtr frame_;
};

class AssetReaderTrackOutput {
public:
    explicit AssetReaderTrackOutput(VideoTrack track);
    ~AssetReaderTrackOutput();
    const VideoTrack& track() const { return track_; }

    // The next picture in presentation order, or nothing when the track has run
    // out or the reader is no longer reading (see AssetReader::status()).
    std::optional<DecodedSample> copyNextSample();

private:
    friend class AssetReader;
    struct State;
    VideoTrack track_;
    std::unique_ptr<State> state_;
};

class AssetReader {
public:
    // Opens the asset's file for reading; throws MediaError when it cannot.
    explicit AssetReader(const Asset& asset);
    ~AssetReader();
    AssetReader(const AssetReader&) = delete;
    AssetReader& operator=(const AssetReader&) = delete;

    // False when no decoder exists for the track's codec, or an output was added.
    bool canAddOutput(const AssetReaderTrackOutput& output) const;
    void addOutput(AssetReaderTrackOutput& output);

    // Opens the decoder. False on failure; error() says why.
    bool startReading();
    ReaderStatus status() const { return status_.load(); }
    // The failure, when status() is failed.
    const std::optional<Error>& error() const { return error_; }
    void cancelReading();

private:
    friend class AssetReaderTrackOutput;
    struct State;
    std::unique_ptr<State> state_;
    std::atomic<ReaderStatus> status_{ReaderStatus::unknown};
    std::optional<Error> error_;
};

} // namespace vantrel::media
