#pragma once
// The numbers that shape an output file, fixed before any frame is read: frame
// rate, time base, output size, target bitrate and the encoder's settings.
// Pure functions of their arguments and of the source's answers; none throws.

#include <cstdint>
#include <optional>
#include <string>

#include "media/encoder_settings.hpp"
#include "media/source.hpp"

namespace vantrel {

class Job;

struct Timebase {
    std::int32_t timescale = 1;
    std::int64_t frameStep = 1; // one frame lasts frameStep/timescale seconds
    friend bool operator==(const Timebase&, const Timebase&) = default;
};

struct OutputSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
    friend bool operator==(const OutputSize&, const OutputSize&) = default;
};

// x taken to the nearest integer, halves away from zero, limited to the signed
// 64-bit range (NaN gives 0).
std::int64_t roundHalfAwayLimited(double x);

// The oriented source size: the stream's size turned by its display matrix, each
// side rounded and made positive.
OutputSize orientedSize(const media::VideoStream& stream);
// The oriented size reduced by the job's maxWidth, rounded down to even sides of
// at least 2; the oriented size itself when no reduction applies.
OutputSize outputSize(OutputSize oriented, std::optional<std::int64_t> maxWidth);
// HEVC 4:2:0 codes even sides only: each odd side one pixel smaller (never below 2).
OutputSize encodedSize(OutputSize size);

// Frames an export of `durationSeconds` at `fps` is expected to write: the
// product rounded (a duration a hair short of whole frames is common); 0 when
// unknown or below one.
std::int64_t expectedFrameCount(double durationSeconds, double fps);

// size·8/duration in bits per second, or nothing when either is unusable.
std::optional<std::int64_t> sourceAverageBitrate(std::optional<std::int64_t> fileSizeBytes,
                                                 double durationSeconds);
// 120 Mbit/s at 3840×2160 and 59.94 fps, linear in pixels and rate, within 20 to 200 Mbit/s.
std::int64_t resolutionBitrate(OutputSize size, double fps);
// The first present of override, job, source average, resolution-based.
std::int64_t targetBitrate(std::optional<std::int64_t> overrideBps,
                           std::optional<std::int64_t> jobBitrate,
                           std::optional<std::int64_t> sourceAverage, OutputSize size, double fps);

// A warning for a source the grade will misread unless its LUT was made for it: a
// PQ or HLG transfer, or BT.2020 primaries. The LUT sees the decoded values as
// they are and the output is always tagged BT.709. Nothing for any other source.
std::optional<std::string> sourceColourWarning(const ColourDescription& source);

// Whether stamping the source's frames at `outputFps` stretches or squeezes the
// picture by more than half an output frame over `durationSeconds`: sound copied
// alongside would drift. False when the source's rate or duration is unknown.
bool retimesPicture(double durationSeconds, double sourceFps, double outputFps);

} // namespace vantrel
