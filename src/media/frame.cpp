#include "media/frame.hpp"

#include <climits>

#include "media/colour_tags.hpp"
#include "media/error.hpp"
#include "media/frame_internal.hpp"

extern "C" {
#include <libavutil/buffer.h>
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

void FrameDataDeleter::operator()(FrameData* data) const noexcept {
    delete data;
}

FramePtr allocateFrame(int width, int height, AVPixelFormat format) {
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw MediaError(AVERROR(ENOMEM), "allocate a scratch picture");
    frame->width = width;
    frame->height = height;
    frame->format = format;
    check(av_frame_get_buffer(frame.get(), 0), "allocate a scratch picture");
    return frame;
}

Frame::Frame(std::unique_ptr<FrameData, FrameDataDeleter> data) : data_(std::move(data)) {}

int Frame::width() const {
    return data_->frame->width;
}

int Frame::height() const {
    return data_->frame->height;
}

PictureView Frame::view() const {
    const AVFrame& frame = *data_->frame;
    PictureView view;
    view.width = frame.width;
    view.height = frame.height;
    if (const AVPixFmtDescriptor* descriptor =
            av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format))) {
        view.bitDepth = descriptor->comp[0].depth;
        view.chromaShiftX = descriptor->log2_chroma_w;
        view.chromaShiftY = descriptor->log2_chroma_h;
    }
    for (int i = 0; i < 3; ++i)
        view.planes[i] = {frame.data[i], frame.linesize[i]};
    view.colour = describe(frame);
    return view;
}

struct FramePool::Planes {
    BufferPoolPtr pools[3];
    int sizes[3] = {};
    int strides[3] = {};
};

FramePool::FramePool(int width, int height)
    : width_(width), height_(height), planes_(std::make_unique<Planes>()) {
    // A size beyond libavutil's picture limit leaves the pool without planes: it then
    // hands out nothing.
    if (width <= 0 || height <= 0 || (width + 128LL) * (height + 128LL) >= INT_MAX / 8)
        return;
    const long long sampleBytes = 2;
    const long long widths[3] = {width, (width + 1) / 2, (width + 1) / 2};
    const long long heights[3] = {height, (height + 1) / 2, (height + 1) / 2};
    for (int i = 0; i < 3; ++i) {
        const long long stride = alignUp(widths[i] * sampleBytes);
        planes_->strides[i] = static_cast<int>(stride);
        planes_->sizes[i] = static_cast<int>(stride * heights[i]);
        planes_->pools[i].reset(
            av_buffer_pool_init(static_cast<size_t>(planes_->sizes[i]), nullptr));
    }
}

FramePool::~FramePool() = default;

std::optional<Frame> FramePool::acquire() {
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return std::nullopt;
    for (int i = 0; i < 3; ++i) {
        if (!planes_->pools[i])
            return std::nullopt;
        // Owned by the frame from here on: freeing the frame returns it to the pool.
        frame->buf[i] = av_buffer_pool_get(planes_->pools[i].get());
        if (!frame->buf[i])
            return std::nullopt;
        frame->data[i] = frame->buf[i]->data;
        frame->linesize[i] = planes_->strides[i];
    }
    frame->format = poolFormat;
    frame->width = width_;
    frame->height = height_;
    frame->color_range = toFFmpeg(bt709Full.range);
    frame->colorspace = toFFmpeg(bt709Full.matrix);
    frame->color_primaries = toFFmpeg(bt709Full.primaries);
    frame->color_trc = toFFmpeg(bt709Full.transfer);
    frame->sample_aspect_ratio = {1, 1};
    return wrap(std::move(frame));
}

} // namespace vantrel::media
