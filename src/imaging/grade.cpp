#include "imaging/grade.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>

#include <fmt/format.h>

#include "core/cube_lut.hpp"
#include "core/error.hpp"
#include "imaging/grade_kernel.hpp"
#include "imaging/packed_cube.hpp"

namespace vantrel::imaging {

namespace {

constexpr std::size_t cubeAlignment = 64;
// Far beyond any code, small enough that interpolating between entries cannot
// overflow.
constexpr float entryLimit = 65536.0f;

float finite(float v) {
    return std::isnan(v) ? 0.0f : std::clamp(v, -entryLimit, entryLimit);
}

float* allocateFloats(std::size_t count) {
    // aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t bytes =
        (count * sizeof(float) + cubeAlignment - 1) / cubeAlignment * cubeAlignment;
    void* memory = std::aligned_alloc(cubeAlignment, bytes);
    if (!memory)
        throw std::bad_alloc();
    return static_cast<float*>(memory);
}

// Starting a thread takes tens of microseconds; below this many pixels (well
// under a millisecond of grading) a second band is not worth one.
constexpr long long pixelsPerExtraBand = 1 << 16;
// The encoder runs on the same cores.
constexpr int defaultMaxBands = 2;

} // namespace

void PackedCube::AlignedFree::operator()(float* p) const noexcept {
    std::free(p);
}

PackedCube::PackedCube(std::int64_t size, std::span<const float> rgb, double inputMin,
                       double inputMax)
    : size_(size), inputMin_(inputMin), inputMax_(inputMax) {
    if (!(inputMin < inputMax) || !std::isfinite(inputMax - inputMin))
        throw Error("imaging", 3, "The cube's size is not supported.",
                    fmt::format("its input range of {} to {} is empty", inputMin, inputMax));
    if (size < 2 || size > Grade::maxSize)
        throw Error("imaging", 3, "The cube's size is not supported.",
                    fmt::format("a size of {}; the grade holds 2 to {}", size, Grade::maxSize));
    const auto entries = static_cast<std::size_t>(size * size * size);
    if (rgb.size() != 3 * entries)
        throw Error("imaging", 3, "The cube's size is not supported.",
                    fmt::format("a cube of size {} needs {} values, not {}", size, 3 * entries,
                                rgb.size()));

    rgb_.reset(allocateFloats(3 * entries));
    rgbx_.reset(allocateFloats(4 * entries));
    for (std::size_t i = 0; i < entries; ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            const float value = finite(rgb[3 * i + c]);
            rgb_[3 * i + c] = value;
            rgbx_[4 * i + c] = value;
        }
        rgbx_[4 * i + 3] = 0.0f;
    }
    if (size > maxQuadSize)
        return;
    const auto n = static_cast<std::size_t>(size);
    quads_.reset(allocateFloats(16 * (n - 1) * (n - 1) * n));
    float* out = quads_.get();
    for (std::size_t b = 0; b < n; ++b)
        for (std::size_t g = 0; g + 1 < n; ++g)
            for (std::size_t r = 0; r + 1 < n; ++r)
                for (const std::size_t corner : {0, 1, 2, 3}) {
                    const std::size_t at = (b * n + g + corner / 2) * n + r + corner % 2;
                    out = std::copy_n(rgbx_.get() + 4 * at, 4, out);
                }
}

Grade::Grade(const CubeLUT& cube, const GradeOptions& options)
    : cube_(
          std::make_shared<const PackedCube>(cube.size, cube.rgb, cube.input.min, cube.input.max)),
      options_(options) {
    checkOptions(options);
}

Grade::Grade(std::int64_t size, std::span<const float> rgb, const GradeOptions& options)
    : cube_(std::make_shared<const PackedCube>(size, rgb)), options_(options) {
    checkOptions(options);
}

Grade::Grade(std::shared_ptr<const PackedCube> cube, const GradeOptions& options)
    : cube_(std::move(cube)), options_(options) {
    checkOptions(options);
}

Grade Grade::withOptions(const GradeOptions& options) const {
    return Grade(cube_, options);
}

void Grade::checkOptions(const GradeOptions& options) {
    kernel::requireValidStrength(options.strength);
}

Grade::~Grade() = default;
Grade::Grade(Grade&&) noexcept = default;
Grade& Grade::operator=(Grade&&) noexcept = default;

std::int64_t Grade::size() const {
    return cube_->size();
}

void Grade::render(const PictureView& source, const PictureView& destination) const {
    const long long pixels = static_cast<long long>(destination.width) * destination.height;
    const int bands = pixels >= pixelsPerExtraBand ? defaultMaxBands : 1;
    kernel::renderWith(kernel::chosenKernel(), cube_.get(), options_, source, destination, bands);
}

} // namespace vantrel::imaging
