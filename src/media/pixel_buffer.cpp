#include "media/pixel_buffer.hpp"

#include <climits>

#include "media/colour_tags.hpp"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace vantrel::media {

namespace {

constexpr AVPixelFormat poolFormat = AV_PIX_FMT_YUV420P10LE;
constexpr int strideAlignment = 64;

int alignUp(long long value) {
    return static_cast<int>((value + strideAlignment - 1) / strideAlignment * strideAlignment);
}

} // namespace

const AVFrame& frameOf(const DecodedPicture& picture) {
    return *picture.frame_;
}

AVFrame& frameOf(const PixelBuffer& buffer) {
    return *buffer.frame_;
}

PixelBuffer::PixelBuffer(FramePtr frame) : frame_(std::move(frame)) {}

int PixelBuffer::width() const {
    return frame_->width;
}
int PixelBuffer::height() const {
    return frame_->height;
}

PictureView PixelBuffer::view() const {
    const AVFrame& frame = *frame_;
    const AVPixFmtDescriptor* descriptor =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    PictureView view;
    view.width = frame.width;
    view.height = frame.height;
    if (descriptor) {
        view.bitDepth = descriptor->comp[0].depth;
        view.chromaShiftX = descriptor->log2_chroma_w;
        view.chromaShiftY = descriptor->log2_chroma_h;
    }
    for (int i = 0; i < 3; ++i)
        view.planes[i] = {frame.data[i], frame.linesize[i]};
    view.matrix = matrixOf(frame.colorspace, frame.height);
    view.range = rangeOf(frame.color_range, static_cast<AVPixelFormat>(frame.format));
    return view;
}

PixelBufferPool::PixelBufferPool(int width, int height) : width_(width), height_(height) {
    // A size beyond libavutil's picture limit leaves the pool without planes: it then
    // hands out nothing.
    if (width <= 0 || height <= 0 || (width + 128LL) * (height + 128LL) >= INT_MAX / 8)
        return;
    const long long sampleBytes = 2;
    const long long widths[3] = {width, (width + 1) / 2, (width + 1) / 2};
    const long long heights[3] = {height, (height + 1) / 2, (height + 1) / 2};
    for (int i = 0; i < 3; ++i) {
        const long long stride = alignUp(widths[i] * sampleBytes);
        strides_[i] = static_cast<int>(stride);
        planeSizes_[i] = static_cast<int>(stride * heights[i]);
    }
    for (int i = 0; i < 3; ++i)
        planes_[i].reset(av_buffer_pool_init(static_cast<size_t>(planeSizes_[i]), nullptr));
}

PixelBufferPool::~PixelBufferPool() = default;

std::optional<PixelBuffer> PixelBufferPool::createPixelBuffer() {
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return std::nullopt;
    for (int i = 0; i < 3; ++i) {
        if (!planes_[i])
            return std::nullopt;
        // Owned by the frame from here on: freeing the frame returns it to the pool.
        frame->buf[i] = av_buffer_pool_get(planes_[i].get());
        if (!frame->buf[i])
            return std::nullopt;
        frame->data[i] = frame->buf[i]->data;
        frame->linesize[i] = strides_[i];
    }
    frame->format = poolFormat;
    frame->width = width_;
    frame->height = height_;
    frame->color_range = AVCOL_RANGE_JPEG;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    frame->sample_aspect_ratio = {1, 1};
    return PixelBuffer(std::move(frame));
}

} // namespace vantrel::media
