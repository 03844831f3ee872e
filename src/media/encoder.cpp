#include "media/encoder.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>

#include <fmt/format.h>

#include "media/error.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

namespace vantrel::media {

namespace {

constexpr std::string_view configureAction = "configure the HEVC encoder";
void require(bool condition, std::string_view detail) {
    if (!condition)
        throw MediaError(MediaFailure::unsupported, configureAction, detail);
}

template <typename Tag> void requireRec709(Tag value, std::string_view what) {
    require(value == Tag::itu709, fmt::format("unsupported {} \"{}\"", what, nameOf(value)));
}

void validate(const VideoSettings& settings, const EncoderOptions& options) {
    require(settings.codec == "hevc", fmt::format("unsupported codec \"{}\"", settings.codec));
    require(settings.width > 0 && settings.width <= INT_MAX && settings.height > 0 &&
                settings.height <= INT_MAX,
            fmt::format("unusable picture size {}x{}", settings.width, settings.height));
    require(
        settings.width % 2 == 0 && settings.height % 2 == 0,
        fmt::format("4:2:0 pictures need even sides, not {}x{}", settings.width, settings.height));
    requireRec709(settings.colourProperties.colourPrimaries, "colour primaries");
    requireRec709(settings.colourProperties.transferFunction, "transfer function");
    requireRec709(settings.colourProperties.yCbCrMatrix, "Y'CbCr matrix");
    const auto& compression = settings.compressionProperties;
    require(compression.profileLevel == "HEVC_Main10_AutoLevel",
            fmt::format("unsupported profile and level \"{}\"", compression.profileLevel));
    require(compression.maxKeyFrameInterval >= 1 && compression.maxKeyFrameInterval <= INT_MAX,
            fmt::format("unusable key-frame interval {}", compression.maxKeyFrameInterval));
    require(!compression.averageBitRate || *compression.averageBitRate > 0,
            "the average bitrate is not positive");
    if (const auto& limit = compression.dataRateLimits)
        require((*limit)[0] > 0 && (*limit)[1] > 0 && (*limit)[0] <= INT64_MAX / 8,
                fmt::format("unusable data-rate limit of {} bytes per {} seconds", (*limit)[0],
                            (*limit)[1]));
    require(options.timescale > 0 && options.frameStep > 0 && options.frameStep <= INT_MAX,
            fmt::format("unusable frame duration {}/{}", options.frameStep, options.timescale));
}

} // namespace

std::string x265Parameters(const VideoSettings& settings) {
    const auto& compression = settings.compressionProperties;
    // Closed GOPs keep every key frame a clean cut point; the headers live in the
    // sample description, so they are not repeated in the stream (x265 still
    // repeats them when every picture is a key frame).
    std::string parameters = fmt::format("log-level=error:open-gop=0:repeat-headers=0:keyint={}",
                                         compression.maxKeyFrameInterval);
    if (!compression.allowFrameReordering)
        parameters += ":bframes=0";
    // x265's cu-tree pass writes past its per-row scratch when a picture is at most
    // three 16-pixel blocks wide (seen under valgrind, heap corruption follows), so
    // such narrow pictures go without it; it only steers bits between frames.
    if (settings.width <= 48)
        parameters += ":cutree=0";
    if (const auto& limit = compression.dataRateLimits) {
        const std::int64_t kbps = std::max<std::int64_t>(1, (*limit)[0] * 8 / (*limit)[1] / 1000);
        // The buffer holds one second at the limit.
        parameters += fmt::format(":vbv-maxrate={0}:vbv-bufsize={0}", kbps);
    }
    return parameters;
}

CodecContextPtr openHevcEncoder(const VideoSettings& settings, const EncoderOptions& options,
                                bool globalHeader, LibraryLog& log) {
    validate(settings, options);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx265");
    if (!codec)
        throw MediaError(AVERROR_ENCODER_NOT_FOUND, "find the HEVC encoder");
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        throw MediaError(AVERROR(ENOMEM), "allocate the HEVC encoder");
    log.attach(*context);

    const auto& compression = settings.compressionProperties;
    context->width = static_cast<int>(settings.width);
    context->height = static_cast<int>(settings.height);
    context->pix_fmt = AV_PIX_FMT_YUV420P10LE;
    context->sample_aspect_ratio = {1, 1};
    context->time_base = {1, options.timescale};
    av_reduce(&context->framerate.num, &context->framerate.den, options.timescale,
              options.frameStep, INT_MAX);
    context->gop_size = static_cast<int>(compression.maxKeyFrameInterval);
    // -1 leaves the B-frame count to the preset.
    context->max_b_frames = compression.allowFrameReordering ? -1 : 0;
    if (compression.averageBitRate)
        context->bit_rate = *compression.averageBitRate;
    context->color_primaries = AVCOL_PRI_BT709;
    context->color_trc = AVCOL_TRC_BT709;
    context->colorspace = AVCOL_SPC_BT709;
    context->color_range = AVCOL_RANGE_JPEG;
    if (globalHeader)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    const std::string parameters = x265Parameters(settings);
    AVDictionary* rawOptions = nullptr;
    av_dict_set(&rawOptions, "preset", options.preset.c_str(), 0);
    av_dict_set(&rawOptions, "profile", "main10", 0);
    av_dict_set(&rawOptions, "x265-params", parameters.c_str(), 0);
    // avcodec_open2 swaps the dictionary for one holding the entries it did not use.
    const int rc = avcodec_open2(context.get(), codec, &rawOptions);
    const DictionaryPtr unused(rawOptions);
    check(rc, "open the HEVC encoder", &log);
    if (const AVDictionaryEntry* entry =
            av_dict_get(unused.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX))
        throw MediaError(MediaFailure::unsupported, "open the HEVC encoder",
                         fmt::format("the encoder has no option \"{}\"", entry->key));
    return context;
}

} // namespace vantrel::media
