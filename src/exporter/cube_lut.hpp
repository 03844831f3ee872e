#pragma once
// A parsed 3D LUT: edge size N and N³ RGBA single-precision entries, red fastest,
// with what the parser had to warn about. A file with a 1D shaper comes out as one
// cube that already holds the shaper (see Exporter::parseCube).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/error.hpp"

namespace vantrel {

class CubeLUT {
public:
    CubeLUT(std::int64_t size, std::vector<std::byte> data, std::vector<std::string> warnings = {})
        : size_(size), data_(std::move(data)), warnings_(std::move(warnings)) {}
    std::int64_t size() const { return size_; }
    // 16·N³ bytes: four native-endian floats per entry (red, green, blue, alpha 1).
    const std::vector<std::byte>& data() const { return data_; }
    // Entry i as floats; i < size³.
    std::span<const float, 4> entry(std::int64_t i) const {
        return std::span<const float, 4>(reinterpret_cast<const float*>(data_.data()) + 4 * i, 4);
    }
    // Plain-words notes on parts of the text that were read but not applied as the
    // file may have meant (ignored domains, surplus entries). Empty for a clean file.
    const std::vector<std::string>& warnings() const { return warnings_; }

private:
    std::int64_t size_;
    std::vector<std::byte> data_;
    std::vector<std::string> warnings_;
};

// The most bytes of LUT text read from a file: more than a 129-point cube needs.
inline constexpr std::size_t maxLutFileBytes = std::size_t{64} << 20;

// Domain "cube"; the codes are CubeCode's.
class CubeError : public Error {
public:
    explicit CubeError(CubeCode code, std::string detail = {}) : Error(code, std::move(detail)) {}
};

} // namespace vantrel
