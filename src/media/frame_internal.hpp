#pragma once
// The codec library's frame behind a media::Frame. Media-internal: included
// only by .cpp files of src/media.

#include "media/av_ptr.hpp"
#include "media/frame.hpp"

extern "C" {
#include <libavutil/frame.h>
}

namespace vantrel::media {

struct FrameData {
    FramePtr frame;
};

// Takes ownership of a decoded or allocated frame.
inline Frame wrap(FramePtr frame) {
    return Frame(std::unique_ptr<FrameData, FrameDataDeleter>(new FrameData{std::move(frame)}));
}

// A new frame of that size and format with its own buffers. Throws MediaError
// when memory runs out.
FramePtr allocateFrame(int width, int height, AVPixelFormat format);

// The frame of a non-empty Frame.
inline AVFrame& avFrame(const Frame& frame) {
    return *frame.data()->frame;
}

} // namespace vantrel::media
