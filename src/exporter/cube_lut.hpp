#pragma once
// A parsed 3D LUT: edge size N and N³ RGBA single-precision entries, red fastest.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/error.hpp"

namespace vantrel {

class CubeLUT {
public:
    CubeLUT(std::int64_t size, std::vector<std::byte> data) : size_(size), data_(std::move(data)) {}
    std::int64_t size() const { return size_; }
    // 16·N³ bytes: four native-endian floats per entry (red, green, blue, alpha 1).
    const std::vector<std::byte>& data() const { return data_; }
    // Entry i as floats; i < size³.
    std::span<const float, 4> entry(std::int64_t i) const {
        return std::span<const float, 4>(reinterpret_cast<const float*>(data_.data()) + 4 * i, 4);
    }

private:
    std::int64_t size_;
    std::vector<std::byte> data_;
};

// Domain "cube". Code 1: no usable size. Code 2: fewer entries than the size needs.
class CubeError : public Error {
public:
    explicit CubeError(int code);
};

} // namespace vantrel
