// Any text: either a CubeLUT that keeps its promises or an Error. Anything else
// (another exception, a sanitizer report, a broken promise) is a crash.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "exporter/exporter.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel;
    try {
        const auto lut = Exporter::parseCube({reinterpret_cast<const char*>(data), size});
        const std::int64_t n = lut.size();
        if (n < 2 || lut.data().size() != static_cast<std::size_t>(16 * n * n * n))
            std::abort();
        for (std::int64_t i = 0; i < n * n * n; ++i)
            if (lut.entry(i)[3] != 1.0f)
                std::abort();
    } catch (const Error&) {
    }
    return 0;
}
