#include <algorithm>
#include <cmath>
#include <limits>

#include "exporter/containers.hpp"
#include "exporter/exporter.hpp"
#include "exporter/text_scan.hpp"

namespace vantrel {

std::optional<std::int64_t> Exporter::parseBitrateOverride(std::string_view text) {
    std::string number(text::trimWhiteSpace(text));
    if (number.empty())
        return std::nullopt;
    std::replace(number.begin(), number.end(), ',', '.');
    const double mbps = text::readWholeDouble(number).value_or(0.0);
    if (!std::isfinite(mbps) || mbps <= 0)
        return std::nullopt;
    const double bps = mbps * 1e6;
    // From about 9.22e12 Mbit/s on the value no longer fits: it saturates, so the writer
    // settings take their upper bitrate limit instead of a wrapped negative value.
    if (bps >= 9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(bps);
}

std::string Exporter::defaultOutputName(const std::optional<std::filesystem::path>& inputURL) {
    std::string base = "vantrel";
    std::string extension;
    if (inputURL) {
        std::filesystem::path input = *inputURL;
        // "/in/clip/" names the folder clip, as its last component.
        if (!input.has_filename() && input.has_relative_path())
            input = input.parent_path();
        base = input.stem().string();
        extension = extensionOf(input);
    }
    return base + "_vantrel_10bit." + (namesMpeg4(extension) ? "mp4" : "mov");
}

} // namespace vantrel
