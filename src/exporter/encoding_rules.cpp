#include "exporter/encoding_rules.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "exporter/exporter.hpp"
#include "exporter/text_scan.hpp"
#include "media/orientation.hpp"

namespace vantrel {

namespace {

constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto int32Max = std::numeric_limits<std::int32_t>::max();
// 2^63, the first double above the signed 64-bit range.
constexpr double twoTo63 = 9223372036854775808.0;

constexpr double fallbackFps = 30.0;

constexpr std::int64_t minTargetBitrate = 1'000'000;
constexpr std::int64_t maxTargetBitrate = 400'000'000;

// The reference point of the resolution-based bitrate: 120 Mbit/s for 3840×2160 at
// 59.94 frames per second, kept within 20 to 200 Mbit/s.
constexpr double referencePixels = 3840.0 * 2160.0;
constexpr double referenceBitrate = 120'000'000.0;
constexpr double referenceFps = 59.94;
constexpr double minResolutionBitrate = 20'000'000.0;
constexpr double maxResolutionBitrate = 200'000'000.0;

// Truncated toward zero and limited to the signed 64-bit range rather than wrapped.
std::int64_t truncateLimited(double x) {
    if (std::isnan(x))
        return 0;
    if (x >= twoTo63)
        return int64Max;
    if (x < -twoTo63)
        return int64Min;
    return static_cast<std::int64_t>(x);
}

std::int64_t absLimited(std::int64_t x) {
    if (x == int64Min)
        return int64Max;
    return x < 0 ? -x : x;
}

std::int64_t evenAtLeastTwo(std::int64_t n) {
    return std::max<std::int64_t>(2 * (n / 2), 2);
}

} // namespace

std::int64_t roundHalfAwayLimited(double x) {
    return truncateLimited(std::round(x));
}

OutputSize orientedSize(const media::VideoStream& stream) {
    // Only the orientation counts: a matrix that also scales (×25, say) must not
    // make a small file a huge export.
    const OutputSize coded{absLimited(roundHalfAwayLimited(stream.size.width)),
                           absLimited(roundHalfAwayLimited(stream.size.height))};
    switch (media::orientationOf(stream.displayMatrix)) {
    case Orientation::left:
    case Orientation::leftMirrored:
    case Orientation::right:
    case Orientation::rightMirrored:
        return {coded.height, coded.width};
    default:
        return coded;
    }
}

OutputSize outputSize(OutputSize oriented, std::optional<std::int64_t> maxWidth) {
    if (!maxWidth || *maxWidth < 1 || *maxWidth >= oriented.width)
        return oriented;
    const double scale = static_cast<double>(*maxWidth) / static_cast<double>(oriented.width);
    return {evenAtLeastTwo(roundHalfAwayLimited(static_cast<double>(oriented.width) * scale)),
            evenAtLeastTwo(roundHalfAwayLimited(static_cast<double>(oriented.height) * scale))};
}

OutputSize encodedSize(OutputSize size) {
    // Clearing the low bit takes an odd positive side one down.
    return {std::max<std::int64_t>(size.width & ~std::int64_t{1}, 2),
            std::max<std::int64_t>(size.height & ~std::int64_t{1}, 2)};
}

std::int64_t expectedFrameCount(double durationSeconds, double fps) {
    const double frames = durationSeconds * fps;
    if (!std::isfinite(frames) || frames < 1)
        return 0;
    return roundHalfAwayLimited(frames);
}

std::optional<std::int64_t> sourceAverageBitrate(std::optional<std::int64_t> fileSizeBytes,
                                                 double durationSeconds) {
    if (!std::isfinite(durationSeconds) || durationSeconds <= 0)
        return std::nullopt;
    if (!fileSizeBytes || *fileSizeBytes < 1)
        return std::nullopt;
    // A very short duration can give more than a signed 64-bit bitrate: it is limited,
    // and the writer settings limit it further.
    const std::int64_t bps =
        truncateLimited(static_cast<double>(*fileSizeBytes) * 8.0 / durationSeconds);
    if (bps < 1)
        return std::nullopt;
    return bps;
}

std::int64_t resolutionBitrate(OutputSize size, double fps) {
    const double pixels = static_cast<double>(size.width) * static_cast<double>(size.height);
    const double bps = pixels / referencePixels * referenceBitrate * (fps / referenceFps);
    if (std::isnan(bps))
        return static_cast<std::int64_t>(minResolutionBitrate);
    return static_cast<std::int64_t>(std::clamp(bps, minResolutionBitrate, maxResolutionBitrate));
}

std::int64_t targetBitrate(std::optional<std::int64_t> overrideBps,
                           std::optional<std::int64_t> jobBitrate,
                           std::optional<std::int64_t> sourceAverage, OutputSize size, double fps) {
    if (overrideBps)
        return *overrideBps;
    if (jobBitrate)
        return *jobBitrate;
    if (sourceAverage)
        return *sourceAverage;
    return resolutionBitrate(size, fps);
}

std::optional<std::int64_t> Exporter::parseBitrateOverride(std::string_view text) {
    std::string number(text::trimWhiteSpace(text));
    if (number.empty())
        return std::nullopt;
    std::replace(number.begin(), number.end(), ',', '.');
    const double mbps = text::readWholeDouble(number).value_or(0.0);
    if (!std::isfinite(mbps) || mbps <= 0)
        return std::nullopt;
    // From about 9.22e12 Mbit/s on the value saturates, so the writer settings take
    // their upper bitrate limit instead of a wrapped negative value.
    return truncateLimited(mbps * 1e6);
}

double Exporter::chooseFps(const media::SourceQueries& source, std::optional<double> jobFps) {
    if (jobFps && *jobFps > 0)
        return *jobFps;
    const auto streams = source.videoStreams();
    if (streams.empty())
        return fallbackFps;
    const float nominal = streams.front().frameRate;
    if (!std::isfinite(nominal) || nominal <= 0)
        return fallbackFps;
    // The bounds apply to the single-precision rate widened, not to its decimal
    // spelling: a nominal 60.2 widens to slightly more than 60.2 and is rounded.
    const double rate = nominal;
    if (rate >= 59.7 && rate <= 60.2)
        return 59.94;
    if (rate >= 29.8 && rate <= 30.2)
        return 29.97;
    if (rate >= 23.8 && rate <= 24.2)
        return 23.976;
    // Other rates are kept: rounding 12.5 to 13 would play the clip 4 % fast. A rate
    // a hair from a whole one (single precision) is that whole rate.
    if (std::abs(rate - std::round(rate)) < 1e-3)
        return std::round(rate);
    return rate;
}

Timebase Exporter::fpsToTimebase(double fps) {
    constexpr double tolerance = 0.05;
    if (std::abs(fps - 59.94) < tolerance)
        return {60000, 1001};
    if (std::abs(fps - 29.97) < tolerance)
        return {30000, 1001};
    if (std::abs(fps - 23.976) < tolerance)
        return {24000, 1001};
    // A timescale beyond the 32-bit range is limited to its largest value; such a rate
    // can only come from an absurd job setting.
    if (!(fps > 0))
        return {1, 1};
    if (fps >= int32Max)
        return {int32Max, 1};
    const double whole = std::round(fps);
    if (whole >= 1 && std::abs(fps - whole) < 1e-6)
        return {static_cast<std::int32_t>(whole), 1};
    // The broadcast family: n×1000/1001 (14.985, 47.952, 119.88…).
    const double n = std::round(fps * 1.001);
    if (n >= 1 && n * 1000 <= int32Max && std::abs(fps - n * 1000 / 1001) < tolerance)
        return {static_cast<std::int32_t>(n * 1000), 1001};
    // Any other rate as the smallest fraction that gives it to single precision
    // (12.5 → 25/2, 0.4 → 2/5), else in thousandths.
    for (std::int64_t step = 1; step <= 1000; ++step) {
        const double units = std::round(fps * static_cast<double>(step));
        if (units >= 1 && units <= int32Max &&
            std::abs(units / static_cast<double>(step) - fps) <= 1e-6 * fps)
            return {static_cast<std::int32_t>(units), step};
    }
    const double thousandths = std::round(fps * 1000);
    return {static_cast<std::int32_t>(std::clamp(thousandths, 1.0, double(int32Max))), 1000};
}

media::EncoderSettings
Exporter::makeMain10WriterSettings(std::int64_t width, std::int64_t height, double fps,
                                   std::optional<std::int64_t> targetBitrate) {
    const Timebase timebase = fpsToTimebase(fps);
    media::EncoderSettings settings;
    settings.width = width;
    settings.height = height;
    settings.timescale = timebase.timescale;
    settings.frameStep = timebase.frameStep;
    settings.allowFrameReordering = false;
    // Key frames at most about two seconds apart; an infinite rate saturates.
    settings.keyFrameInterval = std::max<std::int64_t>(roundHalfAwayLimited(2 * fps), 1);
    if (targetBitrate) {
        const std::int64_t limited = std::clamp(*targetBitrate, minTargetBitrate, maxTargetBitrate);
        settings.targetBitrate = limited;
        settings.maxBitrate = limited;
    }
    return settings;
}

std::optional<std::string> sourceColourWarning(const ColourDescription& source) {
    const bool wide = source.primaries == Primaries::bt2020;
    const char* transfer = source.transfer == Transfer::aribStdB67  ? "HLG"
                           : source.transfer == Transfer::smpte2084 ? "PQ"
                                                                    : nullptr;
    if (!transfer && !wide)
        return std::nullopt;
    const std::string kind = transfer ? transfer : "BT.2020";
    const std::string what =
        transfer ? fmt::format("{}{}", transfer, wide ? " (BT.2020)" : "") : std::string("BT.2020");
    return fmt::format("the source is {}; the LUT sees its values as they are and the output is "
                       "tagged BT.709, so use a LUT made for {} footage",
                       what, kind);
}

bool retimesPicture(double durationSeconds, double sourceFps, double outputFps) {
    if (!(durationSeconds > 0) || !(sourceFps > 0) || !(outputFps > 0) ||
        !std::isfinite(durationSeconds))
        return false;
    // N = duration·sourceFps frames last N/outputFps seconds: off by
    // duration·|sourceFps − outputFps|/outputFps seconds, which is
    // duration·|sourceFps − outputFps| output frames.
    return durationSeconds * std::abs(sourceFps - outputFps) > 0.5;
}

} // namespace vantrel
