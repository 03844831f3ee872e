#pragma once
// What probing a media file learns: its video and audio streams, its duration and
// the container's tags an export may copy.
// SourceQueries is the narrow view the encoding rules read through, so tests can
// answer with any values; Source answers from the file with libavformat.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/colour.hpp"

namespace vantrel::media {

struct Size {
    double width = 0;
    double height = 0;
};

// A 2×3 affine matrix in the row-vector convention:
//   x' = a·x + c·y + tx,  y' = b·x + d·y + ty.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static AffineTransform identity() { return {}; }
    // Applies the linear part only, as sizes are vectors: a quarter turn swaps sides
    // (and may make them negative).
    Size applyToSize(Size s) const {
        return {a * s.width + c * s.height, b * s.width + d * s.height};
    }
    bool isIdentity() const { return a == 1 && b == 0 && c == 0 && d == 1 && tx == 0 && ty == 0; }
};

struct VideoStream {
    int index = -1; // in the file
    // Frames per second as the container states it, in single precision (the
    // rate rules bound this value widened); 0 when absent or unusable.
    float frameRate = 0;
    // Coded picture size widened by the sample aspect ratio, before the display
    // matrix turns it.
    Size size;
    // From the stream's display matrix; identity when the file has none.
    AffineTransform displayMatrix;
    // As the stream's parameters state it (what the decoder's frames say wins
    // for grading; this is what `plan` shows).
    ColourDescription colour;
    // A decoder for the stream's codec exists.
    bool decodable = false;
};

struct AudioStream {
    int index = -1;       // in the file
    std::string codec;    // FFmpeg's codec name: "aac", "alac", "pcm_s16le", "ac3", "opus", …
    std::string language; // the track's language tag ("eng"); empty when it has none
};

// A container tag as the file names it ("creation_time", "location",
// "com.apple.quicktime.make", …).
struct Tag {
    std::string key;
    std::string value;
};

class SourceQueries {
public:
    virtual ~SourceQueries() = default;
    // Video streams in file order; attached pictures (cover art) are not streams.
    virtual std::vector<VideoStream> videoStreams() const = 0;
    // Seconds; NaN when unknown.
    virtual double durationSeconds() const = 0;
};

// Probes the file on construction and closes it again: throws FileError for what
// is not a regular file, MediaError when it cannot be read as media.
class Source final : public SourceQueries {
public:
    explicit Source(std::filesystem::path path);

    const std::filesystem::path& path() const { return path_; }
    std::vector<VideoStream> videoStreams() const override { return streams_; }
    double durationSeconds() const override { return duration_; }
    // Audio streams in file order.
    const std::vector<AudioStream>& audioStreams() const { return audio_; }
    // The container's tags an export copies when asked (not the rotation, not the
    // encoder's name), in file order; and its start timecode, empty for none.
    const std::vector<Tag>& copiedTags() const { return tags_; }
    const std::string& timecode() const { return timecode_; }

private:
    std::filesystem::path path_;
    std::vector<VideoStream> streams_;
    std::vector<AudioStream> audio_;
    std::vector<Tag> tags_;
    std::string timecode_;
    double duration_;
};

} // namespace vantrel::media
