// Any text: either a CubeLUT that keeps its promises or an Error. Anything else
// (another exception, a sanitizer report, a broken promise) is a crash.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "exporter/cube_lut.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel;
    try {
        const auto lut = parseCube({reinterpret_cast<const char*>(data), size});
        const std::int64_t n = lut.size;
        if (n < 2 || lut.rgb.size() != static_cast<std::size_t>(3 * n * n * n))
            std::abort();
    } catch (const Error&) {
    }
    return 0;
}
