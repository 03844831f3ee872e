#include "media/av_ptr.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/buffer.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
}

namespace vantrel::media {

void FrameDeleter::operator()(AVFrame* frame) const noexcept {
    av_frame_free(&frame);
}

void PacketDeleter::operator()(AVPacket* packet) const noexcept {
    av_packet_free(&packet);
}

void CodecContextDeleter::operator()(AVCodecContext* context) const noexcept {
    avcodec_free_context(&context);
}

void InputContextDeleter::operator()(AVFormatContext* context) const noexcept {
    avformat_close_input(&context);
}

void OutputContextDeleter::operator()(AVFormatContext* context) const noexcept {
    if (context->pb && !(context->oformat->flags & AVFMT_NOFILE))
        avio_closep(&context->pb);
    avformat_free_context(context);
}

void DictionaryDeleter::operator()(AVDictionary* dictionary) const noexcept {
    av_dict_free(&dictionary);
}

void BufferPoolDeleter::operator()(AVBufferPool* pool) const noexcept {
    av_buffer_pool_uninit(&pool);
}

} // namespace vantrel::media
