#pragma once
// What the encoder is asked to make: the output file type, the video settings
// and the encoder's own options. Plain values, shared by the encoding rules, the
// encoder and the writer.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::media {

enum class FileType { quickTimeMovie, mpeg4 };

// The muxer's name for the file type, which is also how `vantrel-cli plan` says it.
constexpr std::string_view fileTypeName(FileType type) {
    switch (type) {
    case FileType::quickTimeMovie:
        return "mov";
    case FileType::mpeg4:
        return "mp4";
    }
    return "mov";
}

// The colour tags a settings map can ask for. The encoder writes BT.709 only and
// refuses the others.
enum class ColourPrimaries { itu709, p3D65, itu2020 };
enum class TransferFunction { itu709, smpteST2084PQ, itu2100HLG };
enum class MatrixTag { itu709, itu601, itu2020 };

// The settings map's names for the tags ("ITU_R_709_2", …).
std::string_view nameOf(ColourPrimaries primaries);
std::string_view nameOf(TransferFunction transfer);
std::string_view nameOf(MatrixTag matrix);

struct VideoColourProperties {
    ColourPrimaries colourPrimaries = ColourPrimaries::itu709;
    TransferFunction transferFunction = TransferFunction::itu709;
    MatrixTag yCbCrMatrix = MatrixTag::itu709;
    friend bool operator==(const VideoColourProperties&, const VideoColourProperties&) = default;
};

struct VideoCompressionProperties {
    std::string profileLevel = "HEVC_Main10_AutoLevel";
    std::int64_t expectedSourceFrameRate = 0;
    bool allowFrameReordering = false;
    std::int64_t maxKeyFrameInterval = 1;
    // Present only with a target bitrate: bits per second, and the data-rate limit
    // as (bytes, seconds).
    std::optional<std::int64_t> averageBitRate;
    std::optional<std::array<std::int64_t, 2>> dataRateLimits;
    friend bool operator==(const VideoCompressionProperties&,
                           const VideoCompressionProperties&) = default;
};

// The video output settings. Names and values follow the encoder's settings map:
// every entry has a fixed meaning for the encoder configuration.
struct VideoSettings {
    std::string codec = "hevc";
    std::int64_t width = 0;
    std::int64_t height = 0;
    VideoColourProperties colourProperties;
    VideoCompressionProperties compressionProperties;
    friend bool operator==(const VideoSettings&, const VideoSettings&) = default;
};

// Encoder choices that are ours rather than the settings map's.
struct EncoderOptions {
    std::string preset = "medium"; // an x265 preset name
    // The time base of appended frames: one frame lasts frameStep/timescale seconds.
    std::int32_t timescale = 30000;
    std::int64_t frameStep = 1001;
};

} // namespace vantrel::media
