#pragma once
// The colour-cube filter and the rendering context that turns a graded picture
// into 10-bit 4:2:0 Y′CbCr.
//
// Images are lazy: an Image names a source picture and the cube to apply; nothing
// is computed until RenderContext::render(), which converts, grades and writes
// each pixel in one pass straight into the target buffer (no intermediate
// pictures).
//
// What the grade does to colour, all of it: the source's Y′CbCr is turned into
// R′G′B′ with the source's own matrix and range, the cube is applied to those
// R′G′B′ values as decoded (still in the source's primaries and transfer: log,
// HLG or PQ footage reaches the LUT as log, HLG or PQ code values), and the
// result is written as BT.709-matrix, full-range 10-bit Y′CbCr, tagged BT.709.
// No colour management takes place anywhere: the colour spaces passed to the
// filter and the rendering context, and the cache switch, are accepted for the
// run's steps and change nothing. A LUT made for other input or output spaces
// must already account for them.
//
// The cube is applied by trilinear interpolation between its grid points, red
// fastest. Inputs are limited to [0, 1] before lookup; cube outputs are not
// limited until they are written as code values.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "media/pixel_buffer.hpp"

namespace vantrel::imaging {

enum class ColourSpace { sRGB, deviceRGB };

// The named colour space, or nothing when this platform has none of that name.
std::optional<ColourSpace> colourSpaceNamed(std::string_view name);

// A cube repacked for lookup: N³ RGB float triples, red fastest, 64-byte aligned.
// NaN entries read as 0 and magnitudes beyond 2^16 (infinities too) as ±2^16, so
// a damaged cube still interpolates to finite values and in-range codes.
class Cube {
public:
    static constexpr std::int64_t maxSize = 512;

    // `rgba` holds N³ RGBA float entries (16·N³ bytes); alpha is ignored.
    // Throws std::invalid_argument unless 2 ≤ N ≤ maxSize and the sizes agree.
    Cube(std::int64_t size, std::span<const std::byte> rgba);
    std::int64_t size() const { return size_; }
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
    std::unique_ptr<float[], AlignedFree> rgb_;
    std::unique_ptr<float[], AlignedFree> rgbx_;
    std::unique_ptr<float[], AlignedFree> quads_;
};

class Image {
public:
    static Image fromPicture(const media::PictureView& picture) { return Image(picture, nullptr); }
    const media::PictureView& picture() const { return picture_; }
    // The cube to apply, or null for the picture as it is.
    const std::shared_ptr<const Cube>& cube() const { return cube_; }

private:
    friend class Filter;
    Image(const media::PictureView& picture, std::shared_ptr<const Cube> cube)
        : picture_(picture), cube_(std::move(cube)) {}
    media::PictureView picture_;
    std::shared_ptr<const Cube> cube_;
};

// Filters are found by name: "ColourCubeWithColourSpace" and "ColourCube" exist
// here. One filter serves every frame of an export; only its input image changes.
class Filter {
public:
    static constexpr std::string_view colourCubeWithColourSpace = "ColourCubeWithColourSpace";
    static constexpr std::string_view colourCube = "ColourCube";

    // Nothing when no filter has that name.
    static std::unique_ptr<Filter> named(std::string_view name);

    const std::string& name() const { return name_; }
    void setCubeDimension(std::int64_t dimension);
    // Copied and repacked once; must hold 16·dimension³ bytes for an output image.
    void setCubeData(std::span<const std::byte> rgba);
    // Accepted and ignored; see the top of this file.
    void setColourSpace(ColourSpace space);
    void setInputImage(const Image& image);

    // Nothing without an input image, or when dimension and data do not agree
    // (dimension below 2 or above 512, or a data size other than 16·dimension³).
    std::optional<Image> outputImage();

private:
    explicit Filter(std::string name) : name_(std::move(name)) {}
    void rebuildCube();

    std::string name_;
    std::int64_t dimension_ = 0;
    std::vector<std::byte> data_;
    std::shared_ptr<const Cube> cube_;
    std::optional<Image> input_;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class RenderContext {
public:
    // The spaces and the cache switch are accepted and ignored; see the top of
    // this file. Nothing is ever cached.
    RenderContext(ColourSpace workingSpace, ColourSpace outputSpace, bool cacheIntermediates);

    // Renders `bounds` of the image into the target, which must be 10-bit 4:2:0
    // and at least bounds' size; the image's picture must cover bounds. Output is
    // Y′CbCr with the BT.709 matrix, full range, chroma the mean of each 2×2 block.
    // Bounds start at (0, 0) and have even sides. Large bounds are split into
    // row bands, one of them on a helper thread; all rows are written when this
    // returns. Throws Error (domain "imaging") when image, target and bounds do
    // not fit together. `space` is ignored, as the constructor's.
    void render(const Image& image, const media::PictureView& target, Rect bounds,
                ColourSpace space) const;
};

} // namespace vantrel::imaging
