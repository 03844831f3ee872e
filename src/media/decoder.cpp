#include "media/decoder.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include <fmt/format.h>

#include "media/frame_internal.hpp"
#include "media/input_file.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
}

namespace vantrel::media {

namespace {

// The QuickTime and MPEG-4 sample tables count every sample of a stream exactly;
// other containers' counts are estimates or absent.
std::int64_t samplesListed(const AVFormatContext& format, const AVStream& stream) {
    const bool sampleTable = std::string_view(format.iformat->name).starts_with("mov,");
    return sampleTable && stream.nb_frames > 0 ? stream.nb_frames : 0;
}

// Where the container says the file ends, in seconds from its start time; NaN when
// it does not say.
double statedEndOf(const AVFormatContext& format) {
    if (format.duration == AV_NOPTS_VALUE || format.duration <= 0)
        return std::numeric_limits<double>::quiet_NaN();
    // Matroska states its segment's duration from timestamp 0, whatever the first
    // packet's; the other formats count theirs from their start time.
    const bool fromZero = std::string_view(format.iformat->name).starts_with("matroska");
    const std::int64_t start =
        fromZero || format.start_time == AV_NOPTS_VALUE ? 0 : format.start_time;
    return static_cast<double>(start + format.duration) / AV_TIME_BASE;
}

// A file ends "well short" of its stated end when more than a second, or more than
// 5 % of it, is missing. Less is what a last frame without a duration, or a
// rounded header, looks like.
bool endsWellShort(double statedEnd, double lastEnd, double start) {
    const double missing = statedEnd - lastEnd;
    return missing > std::min(1.0, 0.05 * (statedEnd - start));
}

} // namespace

Decoder::Decoder(const std::filesystem::path& path, int streamIndex) : streamIndex_(streamIndex) {
    format_ = openInputFile(path, fmt::format("open \"{}\" for reading", path.string()), log_);
    if (streamIndex < 0 || static_cast<unsigned>(streamIndex) >= format_->nb_streams)
        throw MediaError(MediaFailure::misuse, "decode the video stream",
                         fmt::format("the file has no stream {}", streamIndex));
    AVStream& stream = *format_->streams[streamIndex];
    const AVCodecParameters& parameters = *stream.codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
    const std::string action = fmt::format("open the {} decoder for \"{}\"",
                                           avcodec_get_name(parameters.codec_id), path.string());
    if (!codec)
        throw MediaError(AVERROR_DECODER_NOT_FOUND, action);
    decoder_.reset(avcodec_alloc_context3(codec));
    packet_.reset(av_packet_alloc());
    if (!decoder_ || !packet_)
        throw MediaError(AVERROR(ENOMEM), action);
    log_.attach(*decoder_);
    check(avcodec_parameters_to_context(decoder_.get(), &parameters), action, &log_);
    decoder_->pkt_timebase = stream.time_base;
    // One decoding thread per core: the encoder keeps every core busy anyway,
    // and FFmpeg's own choice (one more) only holds another frame in memory.
    decoder_->thread_count = std::max(1, av_cpu_count());
    decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    check(avcodec_open2(decoder_.get(), codec, nullptr), action, &log_);
    samplesListed_ = samplesListed(*format_, stream);
    timeBase_ = av_q2d(stream.time_base);
    if (stream.avg_frame_rate.num > 0 && stream.avg_frame_rate.den > 0)
        frameTicks_ = av_rescale_q(1, av_inv_q(stream.avg_frame_rate), stream.time_base);
    start_ = stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time;
    // Without a sample table only the stated duration can tell a file cut short;
    // every stream is then read, so that one that runs longer than the video (the
    // sound) is not taken for missing video.
    if (samplesListed_ == 0) {
        statedEnd_ = statedEndOf(*format_);
        if (format_->start_time != AV_NOPTS_VALUE)
            statedStart_ = static_cast<double>(format_->start_time) / AV_TIME_BASE;
    }
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        format_->streams[i]->discard = static_cast<int>(i) == streamIndex || !std::isnan(statedEnd_)
                                           ? AVDISCARD_DEFAULT
                                           : AVDISCARD_ALL;
}

void Decoder::noteEndOf(const AVPacket& packet) {
    const AVStream& stream = *format_->streams[packet.stream_index];
    const std::int64_t time = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    if (time == AV_NOPTS_VALUE)
        return;
    double end = static_cast<double>(time + std::max<std::int64_t>(packet.duration, 0)) *
                 av_q2d(stream.time_base);
    // A video packet without a duration lasts a frame.
    if (packet.duration <= 0 && stream.avg_frame_rate.num > 0 && stream.avg_frame_rate.den > 0)
        end += av_q2d(av_inv_q(stream.avg_frame_rate));
    if (std::isnan(lastEnd_) || end > lastEnd_)
        lastEnd_ = end;
}

Decoder::~Decoder() = default;

std::optional<Frame> Decoder::next() {
    if (ended_)
        return std::nullopt;
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw MediaError(AVERROR(ENOMEM), "allocate a frame");
    for (;;) {
        int rc = avcodec_receive_frame(decoder_.get(), frame.get());
        if (rc == 0)
            return wrap(std::move(frame));
        // Once flushed, the decoder has no input left to want.
        if (rc == AVERROR_EOF || (rc == AVERROR(EAGAIN) && flushing_)) {
            ended_ = true;
            return std::nullopt;
        }
        if (rc != AVERROR(EAGAIN))
            check(rc, "decode a picture", &log_);
        rc = av_read_frame(format_.get(), packet_.get());
        if (rc == AVERROR_EOF) {
            // A file cut short (or truncated while we read it) ends cleanly at a
            // sample boundary; only the index can tell that samples are missing.
            if (samplesRead_ < samplesListed_)
                throw MediaError(MediaFailure::endedEarly, "read the video track",
                                 fmt::format("{} of the {} frames its index lists were there",
                                             samplesRead_, samplesListed_));
            if (!std::isnan(statedEnd_) && !std::isnan(lastEnd_) &&
                endsWellShort(statedEnd_, lastEnd_, statedStart_))
                throw MediaError(MediaFailure::endedEarly, "read the video track",
                                 fmt::format("the file ends at {:.2f} s of the {:.2f} s it states",
                                             lastEnd_ - statedStart_, statedEnd_ - statedStart_));
            check(avcodec_send_packet(decoder_.get(), nullptr), "finish decoding", &log_);
            flushing_ = true;
            continue;
        }
        check(rc, "read the video track", &log_);
        if (!std::isnan(statedEnd_) && !(packet_->flags & AV_PKT_FLAG_CORRUPT))
            noteEndOf(*packet_);
        if (packet_->stream_index == streamIndex_) {
            // A sample cut off by the end of the file is not one that was there.
            if (!(packet_->flags & AV_PKT_FLAG_CORRUPT))
                ++samplesRead_;
            const bool skippable = packet_->pts != AV_NOPTS_VALUE && packet_->pts < skipBefore_;
            decoder_->skip_frame = skippable ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            rc = avcodec_send_packet(decoder_.get(), packet_.get());
        }
        av_packet_unref(packet_.get());
        check(rc, "decode a picture", &log_);
    }
}

std::optional<TimedFrame> Decoder::pictureAt(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const auto target = start_ + static_cast<std::int64_t>(std::llround(seconds / timeBase_));
    // Most of the way from the key frame is frames that nothing refers to and
    // that are not shown: a frame starting more than a frame before the moment
    // has a later one that starts by then. Where the stream has a gap there,
    // the picture shown may be such a frame: then the search runs again,
    // decoding every frame.
    skipBefore_ = frameTicks_ > 0 ? target - frameTicks_ : std::numeric_limits<std::int64_t>::min();
    auto shown = decodeTowards(target);
    if (shown && shown->seconds < static_cast<double>(skipBefore_ - start_) * timeBase_) {
        skipBefore_ = std::numeric_limits<std::int64_t>::min();
        shown = decodeTowards(target);
    }
    skipBefore_ = std::numeric_limits<std::int64_t>::min();
    return shown;
}

std::optional<TimedFrame> Decoder::decodeTowards(std::int64_t target) {
    check(av_seek_frame(format_.get(), streamIndex_, target, AVSEEK_FLAG_BACKWARD),
          "seek in the video track", &log_);
    avcodec_flush_buffers(decoder_.get());
    flushing_ = ended_ = false;
    samplesListed_ = 0;
    // Where a seek lands past the target (no key frame before it), the first
    // picture decoded is the answer; otherwise the last one not beyond it.
    std::optional<TimedFrame> shown;
    while (auto picture = next()) {
        const std::int64_t time = avFrame(*picture).best_effort_timestamp;
        if (shown && time != AV_NOPTS_VALUE && time > target)
            break;
        const double at = time == AV_NOPTS_VALUE ? (shown ? shown->seconds : 0)
                                                 : static_cast<double>(time - start_) * timeBase_;
        shown = TimedFrame{std::move(*picture), at};
    }
    return shown;
}

} // namespace vantrel::media
