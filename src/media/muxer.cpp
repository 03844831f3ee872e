#include "media/muxer.hpp"

#include <limits>
#include <string>
#include <sys/stat.h>

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

bool Muxer::holds(FileType type, std::string_view codecName) {
    const AVOutputFormat* format =
        av_guess_format(std::string(fileTypeName(type)).c_str(), nullptr, nullptr);
    const AVCodecDescriptor* codec = avcodec_descriptor_get_by_name(std::string(codecName).c_str());
    if (!format || !codec)
        return true;
    return avformat_query_codec(format, codec->id, FF_COMPLIANCE_NORMAL) != 0;
}

Muxer::Muxer(const std::filesystem::path& outputPath, FileType type, const Encoder& encoder,
             const CopySelection* copy)
    : outputPath_(outputPath) {
    // The source is opened before anything is written beside the output.
    if (copy && (copy->metadata || !copy->audioStreams.empty()))
        copy_ = std::make_unique<StreamCopy>(*copy);
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
    if (copy_)
        copy_->describe(*context_, *stream_);

    // The "file:" prefix keeps a colon in the name from being read as a protocol.
    check(avio_open(&context_->pb, ("file:" + partial_->path().string()).c_str(), AVIO_FLAG_WRITE),
          "open the movie file for writing", &log_);
    AVDictionary* rawOptions = nullptr;
    // QuickTime `mdta` keys hold every tag as the source named it (a phone's
    // location and camera among them); only asked for when tags are copied.
    av_dict_set(&rawOptions, "movflags",
                copy_ && copy_->writesMetadata() ? "+write_colr+use_metadata_tags" : "+write_colr",
                0);
    const int rc = avformat_write_header(context_.get(), &rawOptions);
    const DictionaryPtr unused(rawOptions);
    check(rc, "write the movie header", &log_);
}

// The context (and its file) goes before the partial file is removed.
Muxer::~Muxer() {
    context_.reset();
    partial_.reset();
}

// A second of copied sound ahead of the picture keeps the interleaving buffer short.
constexpr double copyLeadSeconds = 1.0;

void Muxer::write(AVPacket& packet) {
    const double seconds =
        packet.dts == AV_NOPTS_VALUE
            ? 0.0
            : static_cast<double>(packet.dts) * encoderTimeBase_[0] / encoderTimeBase_[1];
    av_packet_rescale_ts(&packet, AVRational{encoderTimeBase_[0], encoderTimeBase_[1]},
                         stream_->time_base);
    packet.stream_index = stream_->index;
    check(av_interleaved_write_frame(context_.get(), &packet), "write to the movie file", &log_);
    ++packetsWritten_;
    if (copy_)
        copy_->writeUntil(*context_, seconds + copyLeadSeconds, log_);
}

void Muxer::finish() {
    // The muxer would leave the empty track out and finish a movie with no video
    // at all: not something to hand over as a finished file.
    if (packetsWritten_ == 0)
        throw MediaError(MediaFailure::noVideo, "finish the movie file",
                         "no picture was written, so there is no video");
    if (copy_)
        copy_->writeUntil(*context_, std::numeric_limits<double>::infinity(), log_);
    check(av_write_trailer(context_.get()), "finish the movie file", &log_);
    check(avio_closep(&context_->pb), "close the movie file", &log_);
}

void Muxer::commit() {
    partial_->renameTo(outputPath_);
}

} // namespace vantrel::media
