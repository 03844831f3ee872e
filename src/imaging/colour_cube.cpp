#include "imaging/colour_cube.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
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

[[noreturn]] void refuse(const std::string& detail) {
    throw Error("imaging", 1, "The picture cannot be rendered into that buffer.", detail);
}

void checkRender(const media::PictureView& source, const media::PictureView& target, Rect bounds) {
    if (bounds.x != 0 || bounds.y != 0)
        refuse(fmt::format("bounds start at ({}, {}), not at the origin", bounds.x, bounds.y));
    if (bounds.width < 0 || bounds.height < 0 || bounds.width % 2 != 0 || bounds.height % 2 != 0)
        refuse(fmt::format("bounds of {}x{} do not have even sides", bounds.width, bounds.height));
    if (target.bitDepth != 10 || target.chromaShiftX != 1 || target.chromaShiftY != 1)
        refuse("the buffer is not 10-bit 4:2:0");
    if (target.width < bounds.width || target.height < bounds.height)
        refuse(fmt::format("a {}x{} buffer is smaller than the {}x{} bounds", target.width,
                           target.height, bounds.width, bounds.height));
    if (source.bitDepth < 8 || source.bitDepth > 16)
        refuse(fmt::format("{}-bit samples are not supported", source.bitDepth));
    const auto shiftOk = [](int shift) { return shift == 0 || shift == 1; };
    if (!shiftOk(source.chromaShiftX) || !shiftOk(source.chromaShiftY))
        refuse("the picture's chroma subsampling is not supported");
    if (source.width < bounds.width || source.height < bounds.height)
        refuse(fmt::format("a {}x{} picture does not cover the {}x{} bounds", source.width,
                           source.height, bounds.width, bounds.height));
    for (int p = 0; p < 3; ++p) {
        if (!source.planes[p].data || !target.planes[p].data)
            refuse("a plane has no samples");
    }
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

namespace kernel {

void renderWith(GradeRows kernel, const Image& image, const media::PictureView& target, Rect bounds,
                int maxBands) {
    checkRender(image.picture(), target, bounds);
    if (bounds.width == 0 || bounds.height == 0)
        return;

    const GradeJob job = makeGradeJob(image.picture(), target, bounds.width, image.cube().get());
    const int rowPairs = bounds.height / 2;
    const int bands = std::clamp(maxBands, 1, rowPairs);
    const auto firstRow = [&](int band) { return 2 * (rowPairs * band / bands); };

    // The calling thread takes the first band; a band whose thread cannot be
    // started is done here too.
    std::vector<std::jthread> helpers;
    helpers.reserve(static_cast<std::size_t>(bands - 1));
    for (int band = 1; band < bands; ++band) {
        try {
            helpers.emplace_back(kernel, std::cref(job), firstRow(band), firstRow(band + 1));
        } catch (const std::system_error&) {
            kernel(job, firstRow(band), firstRow(band + 1));
        }
    }
    kernel(job, 0, firstRow(1));
}

} // namespace kernel

} // namespace vantrel::imaging
