#include "imaging/display.hpp"

#include <algorithm>

#include "imaging/chroma.hpp"

namespace vantrel::imaging {

namespace {

template <typename Sample> const Sample* rowOf(const PictureView& picture, int plane, int y) {
    return reinterpret_cast<const Sample*>(picture.planes[plane].data +
                                           std::ptrdiff_t(y) * picture.planes[plane].stride);
}

std::uint16_t code(float v) {
    return static_cast<std::uint16_t>(std::clamp(v, 0.0f, 1.0f) * 65535.0f + 0.5f);
}

// Row by row: the chroma rows are first blended vertically into one row of
// normalised Cb and Cr, then each pixel blends two of those with taps worked out
// once per column. A 1080p picture takes a few milliseconds.
template <typename Sample> std::vector<std::uint16_t> convert(const PictureView& picture) {
    const auto [kr, kb] = lumaCoefficients(resolvedMatrix(picture.colour.matrix, picture.height));
    const auto crToR = static_cast<float>(2 * (1 - kr));
    const auto cbToB = static_cast<float>(2 * (1 - kb));
    const auto cbToG = static_cast<float>(-2 * kb * (1 - kb) / (1 - kr - kb));
    const auto crToG = static_cast<float>(-2 * kr * (1 - kr) / (1 - kr - kb));
    const CodeRange range = codeRange(resolvedRange(picture.colour.range), picture.bitDepth);
    const auto lumaScale = static_cast<float>(1 / range.lumaSpan);
    const auto lumaOffset = static_cast<float>(-range.lumaZero / range.lumaSpan);
    const auto chromaScale = static_cast<float>(1 / range.chromaSpan);
    const auto chromaOffset = static_cast<float>(-range.chromaZero / range.chromaSpan);
    const int chromaWidth =
        (picture.width + (1 << picture.chromaShiftX) - 1) >> picture.chromaShiftX;
    const int chromaHeight =
        (picture.height + (1 << picture.chromaShiftY) - 1) >> picture.chromaShiftY;

    std::vector<ChromaTaps> across(static_cast<std::size_t>(picture.width));
    for (int x = 0; x < picture.width; ++x)
        across[x] = chromaTaps(x, picture.chromaShiftX, picture.colour.siting, false, chromaWidth);
    std::vector<float> cbRow(static_cast<std::size_t>(chromaWidth));
    std::vector<float> crRow(static_cast<std::size_t>(chromaWidth));

    std::vector<std::uint16_t> rgb(std::size_t(picture.width) * picture.height * 3);
    auto* out = rgb.data();
    for (int y = 0; y < picture.height; ++y) {
        const ChromaTaps down =
            chromaTaps(y, picture.chromaShiftY, picture.colour.siting, true, chromaHeight);
        const auto weight = static_cast<float>(down.weight);
        for (int plane = 1; plane < 3; ++plane) {
            const Sample* upper = rowOf<Sample>(picture, plane, down.first);
            const Sample* lower = rowOf<Sample>(picture, plane, down.second);
            float* blended = plane == 1 ? cbRow.data() : crRow.data();
            for (int x = 0; x < chromaWidth; ++x)
                blended[x] =
                    ((1 - weight) * upper[x] + weight * lower[x]) * chromaScale + chromaOffset;
        }
        const Sample* luma = rowOf<Sample>(picture, 0, y);
        for (int x = 0; x < picture.width; ++x) {
            const ChromaTaps& h = across[x];
            const auto w = static_cast<float>(h.weight);
            const float cb = (1 - w) * cbRow[h.first] + w * cbRow[h.second];
            const float cr = (1 - w) * crRow[h.first] + w * crRow[h.second];
            const float yp = luma[x] * lumaScale + lumaOffset;
            *out++ = code(yp + crToR * cr);
            *out++ = code(yp + cbToG * cb + crToG * cr);
            *out++ = code(yp + cbToB * cb);
        }
    }
    return rgb;
}

} // namespace

std::vector<std::uint16_t> toRgb16(const PictureView& picture) {
    return picture.bitDepth <= 8 ? convert<std::uint8_t>(picture) : convert<std::uint16_t>(picture);
}

} // namespace vantrel::imaging
