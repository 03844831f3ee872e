#pragma once
// Owning pointers to FFmpeg objects, one deleter per object type. Media-internal:
// no header above src/media includes this, and no FFmpeg type leaves the layer.

#include <memory>

struct AVBufferPool;
struct AVCodecContext;
struct AVDictionary;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

namespace vantrel::media {

struct FrameDeleter {
    void operator()(AVFrame* frame) const noexcept;
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const noexcept;
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const noexcept;
};
// A demuxer opened with avformat_open_input.
struct InputContextDeleter {
    void operator()(AVFormatContext* context) const noexcept;
};
// A muxer from avformat_alloc_output_context2; closes its file when one is open.
struct OutputContextDeleter {
    void operator()(AVFormatContext* context) const noexcept;
};
struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const noexcept;
};
// Buffers still out keep the pool's memory alive until the last one returns.
struct BufferPoolDeleter {
    void operator()(AVBufferPool* pool) const noexcept;
};

using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryDeleter>;
using BufferPoolPtr = std::unique_ptr<AVBufferPool, BufferPoolDeleter>;

} // namespace vantrel::media
