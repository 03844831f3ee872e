#pragma once
// How subsampled chroma is rebuilt at a luma sample: linear interpolation, along
// each subsampled axis, between the two chroma samples around the luma sample's
// position, with positions taken from the picture's siting and samples beyond
// the plane's edge reading as the edge sample. Every route that turns chroma
// back into one value per pixel (the grading kernels, the fitter) uses these
// taps, so that turning or scaling a picture never moves its chroma against
// its luma.

#include <algorithm>

#include "core/colour.hpp"

namespace vantrel::imaging {

// Chroma at a luma position along one axis: (1 − weight)·c[first] + weight·c[second].
struct ChromaTaps {
    int first;
    int second;
    float weight; // a multiple of 1/2^(2·shift): exact in float
};

// Position of chroma sample 0 in luma samples, times 2: 0, 1 or 2 per half
// step of a 2:1 subsampled axis.
inline int sitingOffsetX2(ChromaSiting siting, bool vertical) {
    if (vertical) {
        switch (siting) {
        case ChromaSiting::topLeft:
        case ChromaSiting::top:
            return 0;
        case ChromaSiting::unspecified:
        case ChromaSiting::left:
        case ChromaSiting::centre:
            return 1;
        case ChromaSiting::bottomLeft:
        case ChromaSiting::bottom:
            return 2;
        }
        return 1;
    }
    switch (siting) {
    case ChromaSiting::unspecified:
    case ChromaSiting::left:
    case ChromaSiting::topLeft:
    case ChromaSiting::bottomLeft:
        return 0;
    case ChromaSiting::centre:
    case ChromaSiting::top:
    case ChromaSiting::bottom:
        return 1;
    }
    return 0;
}

// The taps for luma position `at` on an axis subsampled by 2^shift whose chroma
// plane has `count` samples. With shift 0 chroma is read as it is.
inline ChromaTaps chromaTaps(int at, int shift, ChromaSiting siting, bool vertical, int count) {
    if (shift == 0)
        return {at, at, 0.0f};
    // Chroma sample j sits at luma position 2^shift·j + offset, where offset is
    // the 2:1 offset stretched to the wider spacing (centred stays centred).
    const int scale = 1 << shift;
    const int offsetX2 = sitingOffsetX2(siting, vertical) * (scale - 1);
    // u = (at − offset) / 2^shift, in units of 1/(2·2^shift).
    const int u = 2 * at - offsetX2;
    const int unit = 2 * scale;
    const int first = u >= 0 ? u / unit : -((-u + unit - 1) / unit);
    const float weight = static_cast<float>(u - first * unit) / static_cast<float>(unit);
    const auto clamp = [&](int i) { return std::clamp(i, 0, count - 1); };
    return {clamp(first), clamp(first + 1), weight};
}

} // namespace vantrel::imaging
