#pragma once
// What the encoder and the muxer are asked to make: plain values, decided by the
// encoding rules, shown by `vantrel-cli plan`, used by the encoder and the muxer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::media {

enum class FileType { mov, mp4 };

// The muxer's name for the file type, which is also how `vantrel-cli plan` says it.
constexpr std::string_view fileTypeName(FileType type) {
    switch (type) {
    case FileType::mov:
        return "mov";
    case FileType::mp4:
        return "mp4";
    }
    return "mov";
}

// HEVC Main 10 (libx265), 4:2:0 10-bit, tagged BT.709 primaries, transfer and
// matrix, full range: the output has no other profile or colour.
struct EncoderSettings {
    std::int64_t width = 0; // even, as 4:2:0 needs
    std::int64_t height = 0;
    // One frame lasts frameStep/timescale seconds; the stream's time base is
    // 1/timescale.
    std::int32_t timescale = 30000;
    std::int64_t frameStep = 1001;
    std::int64_t keyFrameInterval = 1; // frames, at most
    bool allowFrameReordering = false; // B-frames
    // Bits per second: the average the encoder aims at, and the rate its one-second
    // buffer may not exceed. Neither: the preset's constant quality.
    std::optional<std::int64_t> targetBitrate;
    std::optional<std::int64_t> maxBitrate;
    std::string preset = "medium"; // an x265 preset name
    friend bool operator==(const EncoderSettings&, const EncoderSettings&) = default;
};

} // namespace vantrel::media
