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

#include "core/error.hpp"
#include "media/asset.hpp"
#include "media/frame.hpp"

namespace vantrel::media {

enum class ReaderStatus { unknown, reading, completed, failed, cancelled };

class AssetReader;

// The reader's output for one video track. Made and owned by its reader.
class AssetReaderTrackOutput {
public:
    const VideoTrack& track() const { return track_; }

    // Decodes up to the next picture in presentation order (the samples are the
    // decoder's own, not a copy). Nothing when the track has run out or the reader
    // is no longer reading (see AssetReader::status()). A file that ends before the
    // last sample its index lists fails the reader (MediaFailure::endedEarly), so
    // a cut-off file is never taken for a short one.
    std::optional<Frame> nextPicture();

private:
    friend class AssetReader;
    AssetReaderTrackOutput(AssetReader& reader, VideoTrack track)
        : reader_(reader), track_(std::move(track)) {}
    AssetReader& reader_;
    VideoTrack track_;
};

class AssetReader {
public:
    // Opens the asset's file for reading; throws MediaError when it cannot.
    explicit AssetReader(const Asset& asset);
    ~AssetReader();
    AssetReader(const AssetReader&) = delete;
    AssetReader& operator=(const AssetReader&) = delete;

    // False when no decoder exists for the track's codec, or an output was added.
    bool canAddOutput(const VideoTrack& track) const;
    // The output for the track, owned by the reader. Throws MediaError unless
    // canAddOutput(track).
    AssetReaderTrackOutput& addOutput(const VideoTrack& track);

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
    std::unique_ptr<AssetReaderTrackOutput> output_;
    std::atomic<ReaderStatus> status_{ReaderStatus::unknown};
    std::optional<Error> error_;
};

} // namespace vantrel::media
