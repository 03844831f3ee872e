#pragma once
// An opened media file and the questions the encoding rules ask of it.
// AssetQueries is the narrow view the rules read through, so tests can answer
// with any values; Asset answers from the file with libavformat.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct AVFormatContext;

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

// The source's colour tags as the file states them, in FFmpeg's own names
// ("bt709", "arib-std-b67", "smpte2084", "tv", "left", …; "unknown" or
// "unspecified" when the file says nothing).
struct SourceColour {
    std::string primaries;
    std::string transfer;
    std::string matrix;
    std::string range;
    std::string chromaSiting;
    friend bool operator==(const SourceColour&, const SourceColour&) = default;
};

struct VideoTrack {
    int streamIndex = -1;
    // Frames per second as the container states it; 0 when absent or unusable.
    float nominalFrameRate = 0;
    // Coded picture size (after sample aspect ratio), before the transform.
    Size naturalSize;
    // From the display matrix; identity when the file has none.
    AffineTransform preferredTransform;
    SourceColour colour;
};

class AssetQueries {
public:
    virtual ~AssetQueries() = default;
    // Video tracks in stream order; attached pictures (cover art) are not tracks.
    virtual std::vector<VideoTrack> videoTracks() const = 0;
    // Seconds; NaN when unknown.
    virtual double durationSeconds() const = 0;
};

// Opens the file on construction (throws MediaError when it cannot be read as media).
class Asset final : public AssetQueries {
public:
    explicit Asset(std::filesystem::path path);
    ~Asset() override;
    Asset(const Asset&) = delete;
    Asset& operator=(const Asset&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::vector<VideoTrack> videoTracks() const override;
    double durationSeconds() const override;

private:
    std::filesystem::path path_;
    std::vector<VideoTrack> tracks_;
    double duration_;
};

} // namespace vantrel::media
