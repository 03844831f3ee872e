#pragma once
// Reading and writing samples of frames and pictures in the media tests.

#include <algorithm>
#include <array>
#include <cstdint>

#include <gmock/gmock.h>

#include "media/pixel_buffer.hpp"
#include "support/test_support.hpp"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace vantrel::test {

// Sample x of row y of a plane with 1 or 2-byte (little-endian) samples.
inline int sampleAt(const std::uint8_t* plane, std::ptrdiff_t stride, bool wide, int x, int y) {
    const std::uint8_t* at = plane + y * stride + (wide ? 2 * x : x);
    return wide ? at[0] | at[1] << 8 : at[0];
}
inline int sampleAt(const AVFrame& frame, int plane, int x, int y) {
    const auto* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    return sampleAt(frame.data[plane], frame.linesize[plane], desc->comp[plane].depth > 8, x, y);
}
inline int sampleAt(const media::PictureView& view, int plane, int x, int y) {
    return sampleAt(view.planes[plane].data, view.planes[plane].stride, view.bitDepth > 8, x, y);
}

// Sets every sample of a 16-bit view, odd chroma edges included.
inline void fill(const media::PictureView& view, std::array<std::uint16_t, 3> yCbCr) {
    for (int p = 0; p < 3; ++p)
        for (int row = 0; row < (p ? (view.height + 1) >> view.chromaShiftY : view.height); ++row) {
            auto* at =
                reinterpret_cast<std::uint16_t*>(view.planes[p].data + row * view.planes[p].stride);
            std::fill_n(at, p ? (view.width + 1) >> view.chromaShiftX : view.width, yCbCr[p]);
        }
}

} // namespace vantrel::test
