#pragma once
// A CubeLUT packed for the kernels, once per grade. Internal to the imaging layer
// (and its tests and bench).

#include <cstdint>
#include <memory>
#include <span>

namespace vantrel::imaging {

// N³ RGB float triples, red fastest, 64-byte aligned. NaN entries read as 0 and
// magnitudes beyond 2^16 (infinities too) as ±2^16, so a damaged cube still
// interpolates to finite values and in-range codes.
class PackedCube {
public:
    // `rgb` holds 3·N³ floats; every axis spans inputs inputMin to inputMax
    // (grid point i at inputMin + i·(inputMax − inputMin)/(N − 1)). Throws Error
    // (domain "imaging") unless 2 ≤ N ≤ 512, the sizes agree and inputMin <
    // inputMax, both finite.
    PackedCube(std::int64_t size, std::span<const float> rgb, double inputMin = 0,
               double inputMax = 1);
    std::int64_t size() const { return size_; }
    double inputMin() const { return inputMin_; }
    double inputMax() const { return inputMax_; }
    const float* rgb() const { return rgb_.get(); }
    // The same entries as RGBx quadruples (x unused), 64-byte aligned, so that one
    // vector load takes a grid point and its red neighbour together.
    const float* rgbx() const { return rgbx_.get(); }
    // For cubes of up to maxQuadSize: per grid point (r, g, b) with r, g < N − 1,
    // the RGBx of (r, g), (r + 1, g), (r, g + 1), (r + 1, g + 1) at that b: one
    // aligned 64-byte line, red fastest, then green, then blue. Null for larger cubes.
    static constexpr std::int64_t maxQuadSize = 65;
    const float* quads() const { return quads_.get(); }

private:
    struct AlignedFree {
        void operator()(float* p) const noexcept;
    };
    std::int64_t size_;
    double inputMin_;
    double inputMax_;
    std::unique_ptr<float[], AlignedFree> rgb_;
    std::unique_ptr<float[], AlignedFree> rgbx_;
    std::unique_ptr<float[], AlignedFree> quads_;
};

} // namespace vantrel::imaging
