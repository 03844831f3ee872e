#include "media/muxer.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include "media/encoder.hpp"

namespace vantrel::media {

bool Muxer::wantsGlobalHeader(FileType type) {
    const AVOutputFormat* format =
        av_guess_format(std::string(fileTypeName(type)).c_str(), nullptr, nullptr);
    return format && (format->flags & AVFMT_GLOBALHEADER);
}

Muxer::Muxer(const std::filesystem::path& outputPath, FileType type, const Encoder& encoder)
    : outputPath_(outputPath) {
    removeStalePartialFiles(outputPath_);
    partial_ = std::make_unique<PartialFile>(outputPath_);
    AVFormatContext* raw = nullptr;
    check(avformat_alloc_output_context2(&raw, nullptr, std::string(fileTypeName(type)).c_str(),
                                         nullptr),
          "set up the movie file", &log_);
    context_.reset(raw);
    log_.attach(*context_);

    const AVCodecContext& codec = encoder.context();
    stream_ = avformat_new_stream(context_.get(), nullptr);
    if (!stream_)
        throw MediaError(AVERROR(ENOMEM), "add the video track");
    check(avcodec_parameters_from_context(stream_->codecpar, &codec), "describe the video track",
          &log_);
    stream_->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    stream_->time_base = codec.time_base;
    stream_->avg_frame_rate = codec.framerate;
    encoderTimeBase_[0] = codec.time_base.num;
    encoderTimeBase_[1] = codec.time_base.den;

    // The "file:" prefix keeps a colon in the name from being read as a protocol.
    check(avio_open(&context_->pb, ("file:" + partial_->path().string()).c_str(), AVIO_FLAG_WRITE),
          "open the movie file for writing", &log_);
    AVDictionary* rawOptions = nullptr;
    av_dict_set(&rawOptions, "movflags", "+write_colr", 0);
    const int rc = avformat_write_header(context_.get(), &rawOptions);
    const DictionaryPtr unused(rawOptions);
    check(rc, "write the movie header", &log_);
}

// The context (and its file) goes before the partial file is removed.
Muxer::~Muxer() {
    context_.reset();
    partial_.reset();
}

void Muxer::write(AVPacket& packet) {
    av_packet_rescale_ts(&packet, AVRational{encoderTimeBase_[0], encoderTimeBase_[1]},
                         stream_->time_base);
    packet.stream_index = stream_->index;
    check(av_interleaved_write_frame(context_.get(), &packet), "write to the movie file", &log_);
    ++packetsWritten_;
}

void Muxer::finish() {
    // The muxer would leave the empty track out and finish a movie with no video
    // at all: not something to hand over as a finished file.
    if (packetsWritten_ == 0)
        throw MediaError(MediaFailure::noVideo, "finish the movie file",
                         "no picture was written, so there is no video");
    check(av_write_trailer(context_.get()), "finish the movie file", &log_);
    check(avio_closep(&context_->pb), "close the movie file", &log_);
}

void Muxer::commit() {
    partial_->renameTo(outputPath_);
}

} // namespace vantrel::media
