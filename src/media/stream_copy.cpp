#include "media/stream_copy.hpp"

#include <cmath>
#include <fmt/format.h>

#include "media/input_file.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace vantrel::media {

namespace {

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

} // namespace

std::string startTimecode(const AVFormatContext& format) {
    if (const AVDictionaryEntry* entry = av_dict_get(format.metadata, "timecode", nullptr, 0))
        return entry->value;
    for (unsigned i = 0; i < format.nb_streams; ++i)
        if (const AVDictionaryEntry* entry =
                av_dict_get(format.streams[i]->metadata, "timecode", nullptr, 0))
            return entry->value;
    return {};
}

namespace {

// Where the first video frame is shown; the copied tracks are placed against it.
std::int64_t videoStartOf(const AVFormatContext& format, int index) {
    if (index < 0 || index >= static_cast<int>(format.nb_streams))
        return 0;
    const AVStream& stream = *format.streams[index];
    if (stream.start_time == AV_NOPTS_VALUE)
        return 0;
    return av_rescale_q(stream.start_time, stream.time_base, AV_TIME_BASE_Q);
}

} // namespace

bool keepsTag(std::string_view key) {
    // A QuickTime key may spell the turn as an orientation.
    return key != "encoder" && key != "major_brand" && key != "minor_version" &&
           key != "compatible_brands" && key != "timecode" && !contains(key, "rotat") &&
           !contains(key, "orientation");
}

std::vector<std::pair<std::string, std::string>> keptTags(const AVDictionary* dictionary) {
    std::vector<std::pair<std::string, std::string>> tags;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)))
        if (keepsTag(entry->key))
            tags.emplace_back(entry->key, entry->value);
    return tags;
}

StreamCopy::StreamCopy(const CopySelection& selection)
    : audioStreams_(selection.audioStreams), metadata_(selection.metadata) {
    input_ =
        openInputFile(selection.input,
                      fmt::format("open \"{}\" to copy its sound", selection.input.string()), log_);
    packet_.reset(av_packet_alloc());
    if (!packet_)
        throw MediaError(AVERROR(ENOMEM), "allocate a packet to copy");
    outputIndex_.assign(input_->nb_streams, -1);
    for (int index : audioStreams_)
        if (index < 0 || index >= static_cast<int>(input_->nb_streams) ||
            input_->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            throw MediaError(MediaFailure::misuse, "copy the sound",
                             fmt::format("stream {} is no audio track of the file", index));
    videoStart_ = videoStartOf(*input_, selection.videoStream);
}

StreamCopy::~StreamCopy() = default;

void StreamCopy::describe(AVFormatContext& output, AVStream& video) {
    for (int index : audioStreams_) {
        const AVStream& from = *input_->streams[index];
        AVStream* to = avformat_new_stream(&output, nullptr);
        if (!to)
            throw MediaError(AVERROR(ENOMEM), "add an audio track");
        check(avcodec_parameters_copy(to->codecpar, from.codecpar), "describe an audio track",
              &log_);
        // The source container's tag may mean nothing in ours: the muxer picks its own.
        to->codecpar->codec_tag = 0;
        to->time_base = from.time_base;
        to->disposition = from.disposition;
        if (const AVDictionaryEntry* language = av_dict_get(from.metadata, "language", nullptr, 0))
            av_dict_set(&to->metadata, "language", language->value, 0);
        outputIndex_[index] = to->index;
    }
    if (!metadata_)
        return;
    for (const auto& [key, value] : keptTags(input_->metadata))
        av_dict_set(&output.metadata, key.c_str(), value.c_str(), 0);
    const std::string timecode = startTimecode(*input_);
    if (!timecode.empty())
        av_dict_set(&video.metadata, "timecode", timecode.c_str(), 0);
}

// Reads up to the next packet of a copied track; false at the end of the file.
bool StreamCopy::readNext() {
    while (!ended_) {
        av_packet_unref(packet_.get());
        const int rc = av_read_frame(input_.get(), packet_.get());
        if (rc == AVERROR_EOF) {
            ended_ = true;
            break;
        }
        check(rc, "read the sound to copy", &log_);
        const int index = packet_->stream_index;
        if (index >= 0 && index < static_cast<int>(outputIndex_.size()) && outputIndex_[index] >= 0)
            return true;
    }
    return false;
}

void StreamCopy::writeUntil(AVFormatContext& output, double seconds, LibraryLog& outputLog) {
    for (;;) {
        if (!pending_ && !(pending_ = readNext()))
            return;
        const AVStream& from = *input_->streams[packet_->stream_index];
        const AVStream& to = *output.streams[outputIndex_[packet_->stream_index]];
        const std::int64_t shift = av_rescale_q(videoStart_, AV_TIME_BASE_Q, from.time_base);
        const std::int64_t start = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : packet_->pts;
        if (start != AV_NOPTS_VALUE && std::isfinite(seconds) &&
            static_cast<double>(start - shift) * av_q2d(from.time_base) >= seconds)
            return;
        if (packet_->pts != AV_NOPTS_VALUE)
            packet_->pts -= shift;
        if (packet_->dts != AV_NOPTS_VALUE)
            packet_->dts -= shift;
        av_packet_rescale_ts(packet_.get(), from.time_base, to.time_base);
        packet_->stream_index = to.index;
        packet_->pos = -1;
        pending_ = false;
        check(av_interleaved_write_frame(&output, packet_.get()), "write the copied sound",
              &outputLog);
    }
}

} // namespace vantrel::media
