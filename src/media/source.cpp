#include "media/source.hpp"

#include <cmath>
#include <cstring>
#include <limits>

#include <fmt/format.h>

#include "media/colour_tags.hpp"
#include "media/error.hpp"
#include "media/input_file.hpp"
#include "media/stream_copy.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace vantrel::media {

namespace {

// A frame rate the container states, or 0 when it states none that makes sense.
float frameRateOf(const AVStream& stream) {
    AVRational rate = stream.avg_frame_rate;
    // An average below one frame a second comes from a long gap between frames,
    // not from the rate the clip was shot at: the base rate says that better.
    const AVRational base = stream.r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0 ||
        (av_q2d(rate) < 1 && base.num > 0 && base.den > 0 && av_q2d(base) >= 1))
        rate = base;
    if (rate.num <= 0 || rate.den <= 0)
        return 0;
    const float fps = static_cast<float>(av_q2d(rate));
    return std::isfinite(fps) && fps > 0 ? fps : 0;
}

// Non-square pixels widen (or narrow) the picture: the width is the coded width
// times the sample aspect ratio, the height stays as coded.
Size sizeOf(AVFormatContext& format, AVStream& stream) {
    const AVCodecParameters& codec = *stream.codecpar;
    Size size{static_cast<double>(codec.width), static_cast<double>(codec.height)};
    const AVRational sar = av_guess_sample_aspect_ratio(&format, &stream, nullptr);
    if (sar.num > 0 && sar.den > 0)
        size.width *= av_q2d(sar);
    return size;
}

// The display matrix is [a b u; c d v; x y w] with a, b, c, d, x, y in 16.16
// fixed point and maps a point as (p, q, 1)·M, which is our row-vector
// convention. u, v, w (perspective) are not used by any file we read.
AffineTransform displayMatrixOf(const AVStream& stream) {
    size_t size = 0;
    const std::uint8_t* data = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < 9 * sizeof(std::int32_t))
        return AffineTransform::identity();
    std::int32_t m[9];
    std::memcpy(m, data, sizeof m);
    auto fixed = [](std::int32_t v) { return v / 65536.0; };
    return {fixed(m[0]), fixed(m[1]), fixed(m[3]), fixed(m[4]), fixed(m[6]), fixed(m[7])};
}

double durationOf(const AVFormatContext& format, const std::vector<VideoStream>& streams) {
    if (format.duration != AV_NOPTS_VALUE && format.duration >= 0)
        return static_cast<double>(format.duration) / AV_TIME_BASE;
    auto streamDuration = [&](const AVStream& stream) {
        if (stream.duration == AV_NOPTS_VALUE || stream.duration < 0 || stream.time_base.den <= 0)
            return std::numeric_limits<double>::quiet_NaN();
        return static_cast<double>(stream.duration) * av_q2d(stream.time_base);
    };
    if (!streams.empty()) {
        const double video = streamDuration(*format.streams[streams.front().index]);
        if (!std::isnan(video))
            return video;
    }
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const double any = streamDuration(*format.streams[i]);
        if (!std::isnan(any))
            return any;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace

Source::Source(std::filesystem::path path) : path_(std::move(path)) {
    LibraryLog log;
    InputContextPtr format =
        openInputFile(path_, fmt::format("open \"{}\" as a video", path_.string()), log);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        AVStream& stream = *format->streams[i];
        if (stream.codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            const AVDictionaryEntry* language =
                av_dict_get(stream.metadata, "language", nullptr, 0);
            audio_.push_back({static_cast<int>(i), avcodec_get_name(stream.codecpar->codec_id),
                              language ? language->value : ""});
            continue;
        }
        if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
            (stream.disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        streams_.push_back({static_cast<int>(i), frameRateOf(stream), sizeOf(*format, stream),
                            displayMatrixOf(stream), describe(*stream.codecpar),
                            avcodec_find_decoder(stream.codecpar->codec_id) != nullptr});
    }
    duration_ = durationOf(*format, streams_);
    for (auto& [key, value] : keptTags(format->metadata))
        tags_.push_back({std::move(key), std::move(value)});
    timecode_ = startTimecode(*format);
}

} // namespace vantrel::media
