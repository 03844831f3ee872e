#pragma once
// Reading and writing samples of frames and pictures in the media tests.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include <gmock/gmock.h>

#include "core/picture.hpp"
#include "media/av_ptr.hpp"
#include "support/test_support.hpp"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace vantrel::test {

// Sample x of row y of a plane with 1 or 2-byte (little-endian) samples.
inline int sampleAt(const PictureView& view, int plane, int x, int y) {
    const bool wide = view.bitDepth > 8;
    const std::uint8_t* at =
        view.planes[plane].data + y * view.planes[plane].stride + x * (1 + wide);
    return wide ? at[0] | at[1] << 8 : at[0];
}

// Sets every sample of a 16-bit view, odd chroma edges included.
inline void fill(const PictureView& view, std::array<std::uint16_t, 3> yCbCr) {
    for (int p = 0; p < 3; ++p)
        for (int row = 0; row < (p ? (view.height + 1) >> view.chromaShiftY : view.height); ++row) {
            auto* at =
                reinterpret_cast<std::uint16_t*>(view.planes[p].data + row * view.planes[p].stride);
            std::fill_n(at, p ? (view.width + 1) >> view.chromaShiftX : view.width, yCbCr[p]);
        }
}

// A frame whose component c at (x, y) is value(c, x, y), in any layout.
inline media::FramePtr makeFrame(AVPixelFormat format, int width, int height,
                                 const std::function<int(int, int, int)>& value) {
    media::FramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = width;
    frame->height = height;
    EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    for (AVBufferRef* buffer : frame->buf)
        if (buffer)
            std::memset(buffer->data, 0, buffer->size); // the line writer ORs samples in
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    for (int c = 0; c < desc->nb_components; ++c) {
        const bool chroma = (c == 1 || c == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        std::vector<std::uint16_t> line(chroma ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w)
                                               : width);
        for (int y = 0; y < (chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height); ++y) {
            for (int x = 0; x < int(line.size()); ++x)
                line[x] = value(c, x, y);
            av_write_image_line2(line.data(), frame->data, frame->linesize, desc, 0, y, c,
                                 int(line.size()), 2);
        }
    }
    return frame;
}

} // namespace vantrel::test
