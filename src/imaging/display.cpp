#include "imaging/display.hpp"

#include <algorithm>
#include <cmath>

#include "imaging/chroma.hpp"

namespace vantrel::imaging {

namespace {

double sampleAt(const PictureView& picture, int plane, int x, int y) {
    const std::uint8_t* row =
        picture.planes[plane].data + std::ptrdiff_t(y) * picture.planes[plane].stride;
    if (picture.bitDepth <= 8)
        return row[x];
    return static_cast<double>(row[2 * x] | row[2 * x + 1] << 8);
}

} // namespace

std::vector<std::uint16_t> toRgb16(const PictureView& picture) {
    const auto [kr, kb] = lumaCoefficients(resolvedMatrix(picture.colour.matrix, picture.height));
    const double kg = 1 - kr - kb;
    const CodeRange range = codeRange(resolvedRange(picture.colour.range), picture.bitDepth);
    const int chromaWidth =
        (picture.width + (1 << picture.chromaShiftX) - 1) >> picture.chromaShiftX;
    const int chromaHeight =
        (picture.height + (1 << picture.chromaShiftY) - 1) >> picture.chromaShiftY;
    const auto chroma = [&](int plane, const ChromaTaps& h, const ChromaTaps& v) {
        const auto along = [&](int y) {
            return (1 - h.weight) * sampleAt(picture, plane, h.first, y) +
                   h.weight * sampleAt(picture, plane, h.second, y);
        };
        return ((1 - v.weight) * along(v.first) + v.weight * along(v.second) - range.chromaZero) /
               range.chromaSpan;
    };
    const auto code = [](double v) {
        return static_cast<std::uint16_t>(std::lround(std::clamp(v, 0.0, 1.0) * 65535));
    };
    std::vector<std::uint16_t> rgb(std::size_t(picture.width) * picture.height * 3);
    auto* out = rgb.data();
    for (int y = 0; y < picture.height; ++y) {
        const ChromaTaps v =
            chromaTaps(y, picture.chromaShiftY, picture.colour.siting, true, chromaHeight);
        for (int x = 0; x < picture.width; ++x) {
            const ChromaTaps h =
                chromaTaps(x, picture.chromaShiftX, picture.colour.siting, false, chromaWidth);
            const double luma = (sampleAt(picture, 0, x, y) - range.lumaZero) / range.lumaSpan;
            const double cb = chroma(1, h, v), cr = chroma(2, h, v);
            const double r = luma + 2 * (1 - kr) * cr, b = luma + 2 * (1 - kb) * cb;
            *out++ = code(r);
            *out++ = code((luma - kr * r - kb * b) / kg);
            *out++ = code(b);
        }
    }
    return rgb;
}

} // namespace vantrel::imaging
