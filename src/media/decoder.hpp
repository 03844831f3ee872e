#pragma once
// Decoding one video stream of a file, with libavcodec's frame threads doing the
// work. Pictures keep the source's bit depth, matrix and range.
//
// Threading: a Decoder is used from one thread at a time.

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>

#include "media/av_ptr.hpp"
#include "media/error.hpp"
#include "media/frame.hpp"

namespace vantrel::media {

// A picture and the time it is shown at, in seconds from the stream's start.
struct TimedFrame {
    Frame frame;
    double seconds = 0;
};

class Decoder {
public:
    // Opens the file and a decoder for its stream `streamIndex` (a video stream).
    // Throws FileError or MediaError when it cannot.
    Decoder(const std::filesystem::path& path, int streamIndex);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The next picture in presentation order; nothing once the stream has run out
    // (and at every later call). Throws MediaError on a decoding failure, and
    // MediaError MediaFailure::endedEarly for a file that ends before the last
    // sample its index lists or, in a container without such an index, well before
    // the duration it states (more than a second or 5 % short), so a cut-off file
    // is never taken for a short one.
    std::optional<Frame> next();

    // The picture shown at `seconds` from the stream's start: the last whose time
    // is at or before it (the first, for a time before it; the last, for a time
    // beyond the end). Seeks to the key frame before it and decodes forward, so
    // a picture costs at most one group of pictures. Nothing for a stream
    // without pictures. Throws MediaError. After a seek, next() no longer checks
    // the file for a missing end: that check needs a read from the start.
    std::optional<TimedFrame> pictureAt(double seconds);

private:
    // Declared first: the contexts below log into it until they are freed.
    LibraryLog log_;
    InputContextPtr format_;
    CodecContextPtr decoder_;
    PacketPtr packet_;
    int streamIndex_;
    bool flushing_ = false; // the demuxer has run out and the decoder was told so
    bool ended_ = false;
    double timeBase_ = 0;    // seconds per tick of the stream's timestamps
    std::int64_t start_ = 0; // the stream's first timestamp, in its ticks
    // Samples of the stream the file's index lists (0 when it lists none we
    // trust), and those read whole so far.
    std::int64_t samplesListed_ = 0;
    std::int64_t samplesRead_ = 0;
    // For a file without a sample table: where the container says it ends, where
    // the packets read so far end, and its start, in seconds (NaN when unknown).
    double statedEnd_ = std::numeric_limits<double>::quiet_NaN();
    double lastEnd_ = std::numeric_limits<double>::quiet_NaN();
    double statedStart_ = 0;
    // While pictureAt() decodes towards a moment: packets that start before this
    // (in the stream's ticks) and that no other frame refers to are not decoded.
    std::int64_t skipBefore_ = std::numeric_limits<std::int64_t>::min();
    std::int64_t frameTicks_ = 0; // one frame at the stream's average rate; 0 unknown

    void noteEndOf(const AVPacket& packet);
    std::optional<TimedFrame> decodeTowards(std::int64_t target);
};

} // namespace vantrel::media
