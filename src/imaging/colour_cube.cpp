#include "imaging/colour_cube.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "core/error.hpp"
#include "imaging/grade_kernel.hpp"

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

// Number of entries of a cube of that dimension, or nothing outside the sizes we
// take.
std::optional<std::size_t> entriesOf(std::int64_t dimension) {
    if (dimension < 2 || dimension > Cube::maxSize)
        return std::nullopt;
    return static_cast<std::size_t>(dimension * dimension * dimension);
}

// Starting a thread takes tens of microseconds; below this many pixels (well
// under a millisecond of grading) a second band is not worth one.
constexpr long long pixelsPerExtraBand = 1 << 16;
// The encoder runs on the same cores.
constexpr int defaultMaxBands = 2;

} // namespace

std::optional<ColourSpace> colourSpaceNamed(std::string_view name) {
    if (name == "sRGB")
        return ColourSpace::sRGB;
    return std::nullopt;
}

void Cube::AlignedFree::operator()(float* p) const noexcept {
    std::free(p);
}

Cube::Cube(std::int64_t size, std::span<const std::byte> rgba) : size_(size) {
    const auto entries = entriesOf(size);
    if (!entries)
        throw std::invalid_argument(fmt::format("a cube of size {} is not supported", size));
    if (rgba.size() != 16 * *entries)
        throw std::invalid_argument(fmt::format("a cube of size {} needs {} bytes, not {}", size,
                                                16 * *entries, rgba.size()));

    rgb_.reset(allocateFloats(3 * *entries));
    rgbx_.reset(allocateFloats(4 * *entries));
    for (std::size_t i = 0; i < *entries; ++i) {
        float entry[4];
        std::memcpy(entry, rgba.data() + 16 * i, sizeof entry);
        for (float& component : entry)
            component = finite(component);
        entry[3] = 0.0f;
        std::copy_n(entry, 3, rgb_.get() + 3 * i);
        std::copy_n(entry, 4, rgbx_.get() + 4 * i);
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

std::unique_ptr<Filter> Filter::named(std::string_view name) {
    if (name == colourCubeWithColourSpace || name == colourCube)
        return std::unique_ptr<Filter>(new Filter(std::string(name)));
    return nullptr;
}

void Filter::setCubeDimension(std::int64_t dimension) {
    dimension_ = dimension;
    rebuildCube();
}

void Filter::setCubeData(std::span<const std::byte> rgba) {
    data_.assign(rgba.begin(), rgba.end());
    rebuildCube();
}

// Every space we have means "the values as decoded": the space changes nothing
// in the grading.
void Filter::setColourSpace(ColourSpace) {}

void Filter::setInputImage(const Image& image) {
    input_ = image;
}

std::optional<Image> Filter::outputImage() {
    if (!input_ || !cube_)
        return std::nullopt;
    return Image(input_->picture(), cube_);
}

void Filter::rebuildCube() {
    cube_.reset();
    const auto entries = entriesOf(dimension_);
    if (entries && data_.size() == 16 * *entries)
        cube_ = std::make_shared<const Cube>(dimension_, data_);
}

RenderContext::RenderContext(ColourSpace, ColourSpace, bool) {}

void RenderContext::render(const Image& image, const media::PictureView& target, Rect bounds,
                           ColourSpace) const {
    const long long pixels = static_cast<long long>(bounds.width) * bounds.height;
    const int bands = pixels >= pixelsPerExtraBand ? defaultMaxBands : 1;
    kernel::renderWith(kernel::bestKernel(), image, target, bounds, bands);
}

} // namespace vantrel::imaging
