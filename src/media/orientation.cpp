#include "media/orientation.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace vantrel::media {

namespace {

// The linear part (a, b, c, d) of each orientation, in picture coordinates
// (x to the right, y down). Where the decoded picture's edges end up:
//   up             nothing moves
//   upMirrored     left and right edges swap
//   down           top goes to the bottom, left to the right
//   downMirrored   top and bottom edges swap
//   left           top edge goes to the left, left edge to the bottom
//   leftMirrored   top edge goes to the left, left edge to the top (transpose)
//   right          top edge goes to the right, left edge to the top
//   rightMirrored  top edge goes to the right, left edge to the bottom (transverse)
// A phone clip recorded upright but coded lying on its side carries "right":
// its display matrix is (0, 1, -1, 0) and its picture's top must face right.
struct Candidate {
    Orientation orientation;
    double a, b, c, d;
};
constexpr std::array<Candidate, 8> candidates{{
    {Orientation::up, 1, 0, 0, 1},
    {Orientation::upMirrored, -1, 0, 0, 1},
    {Orientation::down, -1, 0, 0, -1},
    {Orientation::downMirrored, 1, 0, 0, -1},
    {Orientation::left, 0, -1, 1, 0},
    {Orientation::leftMirrored, 0, 1, 1, 0},
    {Orientation::right, 0, 1, -1, 0},
    {Orientation::rightMirrored, 0, -1, -1, 0},
}};

// Copies one 16-bit plane of `source` (the upright picture, before turning) into
// `target` turned by `orientation`. Output sample (x, y) is read at
// origin + x·stepX + y·stepY bytes in the source.
void turnPlane(const std::uint8_t* source, std::ptrdiff_t sourceStride, int sourceWidth,
               int sourceHeight, std::uint8_t* target, std::ptrdiff_t targetStride, int targetWidth,
               int targetHeight, Orientation orientation) {
    const std::ptrdiff_t sample = sizeof(std::uint16_t);
    const std::ptrdiff_t lastX = (sourceWidth - 1) * sample;
    const std::ptrdiff_t lastY = (sourceHeight - 1) * sourceStride;
    std::ptrdiff_t origin = 0, stepX = sample, stepY = sourceStride;
    switch (orientation) {
    case Orientation::up:
        break;
    case Orientation::upMirrored:
        origin = lastX, stepX = -sample, stepY = sourceStride;
        break;
    case Orientation::down:
        origin = lastX + lastY, stepX = -sample, stepY = -sourceStride;
        break;
    case Orientation::downMirrored:
        origin = lastY, stepX = sample, stepY = -sourceStride;
        break;
    case Orientation::left:
        origin = lastX, stepX = sourceStride, stepY = -sample;
        break;
    case Orientation::leftMirrored:
        origin = 0, stepX = sourceStride, stepY = sample;
        break;
    case Orientation::right:
        origin = lastY, stepX = -sourceStride, stepY = sample;
        break;
    case Orientation::rightMirrored:
        origin = lastX + lastY, stepX = -sourceStride, stepY = -sample;
        break;
    }
    // Quarter turns read the source down its columns; tiles keep those reads in cache.
    constexpr int tile = 64;
    for (int y0 = 0; y0 < targetHeight; y0 += tile) {
        const int y1 = std::min(y0 + tile, targetHeight);
        for (int x0 = 0; x0 < targetWidth; x0 += tile) {
            const int x1 = std::min(x0 + tile, targetWidth);
            for (int y = y0; y < y1; ++y) {
                auto* out = reinterpret_cast<std::uint16_t*>(target + y * targetStride);
                const std::uint8_t* row = source + origin + y * stepY;
                for (int x = x0; x < x1; ++x)
                    out[x] = *reinterpret_cast<const std::uint16_t*>(row + x * stepX);
            }
        }
    }
}

} // namespace

Orientation orientationOf(const AffineTransform& t) {
    Orientation best = Orientation::up;
    double bestScore = 0;
    for (const Candidate& candidate : candidates) {
        const double score =
            t.a * candidate.a + t.b * candidate.b + t.c * candidate.c + t.d * candidate.d;
        if (score > bestScore) {
            bestScore = score;
            best = candidate.orientation;
        }
    }
    return best;
}

void turn(const PictureView& upright, const PictureView& to, Orientation orientation) {
    for (int i = 0; i < 3; ++i)
        turnPlane(upright.planes[i].data, upright.planes[i].stride, upright.width, upright.height,
                  to.planes[i].data, to.planes[i].stride, to.width, to.height, orientation);
}

} // namespace vantrel::media
