// Any text typed as a bitrate: no override, or a bitrate that is not negative.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "exporter/exporter.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bps =
        vantrel::Exporter::parseBitrateOverride({reinterpret_cast<const char*>(data), size});
    if (bps && *bps < 0)
        std::abort();
    return 0;
}
