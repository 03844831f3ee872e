#include "media/encoder.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>

#include <fmt/format.h>

#include "media/colour_tags.hpp"
#include "media/frame_internal.hpp"
#include "media/muxer.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

namespace vantrel::media {

namespace {

void require(bool condition, std::string_view detail) {
    if (!condition)
        throw MediaError(MediaFailure::unsupported, "configure the HEVC encoder", detail);
}

void validate(const EncoderSettings& settings) {
    require(settings.width > 0 && settings.width <= INT_MAX && settings.height > 0 &&
                settings.height <= INT_MAX,
            fmt::format("unusable picture size {}x{}", settings.width, settings.height));
    require(
        settings.width % 2 == 0 && settings.height % 2 == 0,
        fmt::format("4:2:0 pictures need even sides, not {}x{}", settings.width, settings.height));
    require(settings.keyFrameInterval >= 1 && settings.keyFrameInterval <= INT_MAX,
            fmt::format("unusable key-frame interval {}", settings.keyFrameInterval));
    require(!settings.targetBitrate || *settings.targetBitrate > 0,
            "the target bitrate is not positive");
    require(!settings.maxBitrate || *settings.maxBitrate > 0,
            "the maximum bitrate is not positive");
    require(settings.timescale > 0 && settings.frameStep > 0 && settings.frameStep <= INT_MAX,
            fmt::format("unusable frame duration {}/{}", settings.frameStep, settings.timescale));
}

} // namespace

std::string x265Parameters(const EncoderSettings& settings) {
    // Closed GOPs keep every key frame a clean cut point; the headers live in the
    // sample description, so they are not repeated in the stream (x265 still
    // repeats them when every picture is a key frame).
    std::string parameters = fmt::format("log-level=error:open-gop=0:repeat-headers=0:keyint={}",
                                         settings.keyFrameInterval);
    if (!settings.allowFrameReordering)
        parameters += ":bframes=0";
    // x265's cu-tree pass writes past its per-row scratch when a picture is at most
    // three 16-pixel blocks wide (seen under valgrind, heap corruption follows), so
    // such narrow pictures go without it; it only steers bits between frames.
    if (settings.width <= 48)
        parameters += ":cutree=0";
    // The buffer holds one second at the maximum.
    if (settings.maxBitrate)
        parameters += fmt::format(":vbv-maxrate={0}:vbv-bufsize={0}",
                                  std::max<std::int64_t>(1, *settings.maxBitrate / 1000));
    return parameters;
}

Encoder::Encoder(const EncoderSettings& settings, bool globalHeader)
    : frameStep_(settings.frameStep) {
    validate(settings);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx265");
    if (!codec)
        throw MediaError(AVERROR_ENCODER_NOT_FOUND, "find the HEVC encoder");
    context_.reset(avcodec_alloc_context3(codec));
    packet_.reset(av_packet_alloc());
    if (!context_ || !packet_)
        throw MediaError(AVERROR(ENOMEM), "allocate the HEVC encoder");
    log_.attach(*context_);

    AVCodecContext& c = *context_;
    c.width = static_cast<int>(settings.width);
    c.height = static_cast<int>(settings.height);
    c.pix_fmt = AV_PIX_FMT_YUV420P10LE;
    c.sample_aspect_ratio = {1, 1};
    c.time_base = {1, settings.timescale};
    av_reduce(&c.framerate.num, &c.framerate.den, settings.timescale, settings.frameStep, INT_MAX);
    c.gop_size = static_cast<int>(settings.keyFrameInterval);
    // -1 leaves the B-frame count to the preset.
    c.max_b_frames = settings.allowFrameReordering ? -1 : 0;
    if (settings.targetBitrate)
        c.bit_rate = *settings.targetBitrate;
    c.color_primaries = toFFmpeg(bt709Full.primaries);
    c.color_trc = toFFmpeg(bt709Full.transfer);
    c.colorspace = toFFmpeg(bt709Full.matrix);
    c.color_range = toFFmpeg(bt709Full.range);
    if (globalHeader)
        c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    const std::string parameters = x265Parameters(settings);
    AVDictionary* rawOptions = nullptr;
    av_dict_set(&rawOptions, "preset", settings.preset.c_str(), 0);
    av_dict_set(&rawOptions, "profile", "main10", 0);
    av_dict_set(&rawOptions, "x265-params", parameters.c_str(), 0);
    // avcodec_open2 swaps the dictionary for one holding the entries it did not use.
    const int rc = avcodec_open2(&c, codec, &rawOptions);
    const DictionaryPtr unused(rawOptions);
    check(rc, "open the HEVC encoder", &log_);
    if (const AVDictionaryEntry* entry =
            av_dict_get(unused.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX))
        throw MediaError(MediaFailure::unsupported, "open the HEVC encoder",
                         fmt::format("the encoder has no option \"{}\"", entry->key));
}

Encoder::~Encoder() = default;

void Encoder::encode(const Frame& picture, std::int64_t pts, Muxer& muxer) {
    AVFrame& frame = avFrame(picture);
    const AVCodecContext& c = *context_;
    if (frame.format != c.pix_fmt || frame.width != c.width || frame.height != c.height)
        throw MediaError(MediaFailure::wrongPicture, "encode a picture",
                         fmt::format("the picture is {}x{} in format {}; the encoder takes {}x{} "
                                     "in format {}",
                                     frame.width, frame.height, frame.format, c.width, c.height,
                                     static_cast<int>(c.pix_fmt)));
    frame.pts = pts;
    frame.pict_type = AV_PICTURE_TYPE_NONE;
    frame.color_primaries = c.color_primaries;
    frame.color_trc = c.color_trc;
    frame.colorspace = c.colorspace;
    frame.color_range = c.color_range;
    check(avcodec_send_frame(context_.get(), &frame), "send a picture to the HEVC encoder", &log_);
    drain(muxer, nullptr);
}

void Encoder::flush(Muxer& muxer, const std::function<void()>& betweenPackets) {
    check(avcodec_send_frame(context_.get(), nullptr), "flush the HEVC encoder", &log_);
    drain(muxer, &betweenPackets);
}

void Encoder::drain(Muxer& muxer, const std::function<void()>* betweenPackets) {
    for (;;) {
        if (betweenPackets && *betweenPackets)
            (*betweenPackets)();
        const int rc = avcodec_receive_packet(context_.get(), packet_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return;
        check(rc, "receive a packet from the HEVC encoder", &log_);
        // Without a duration the muxer would guess the last sample's length.
        if (packet_->duration <= 0)
            packet_->duration = frameStep_;
        muxer.write(*packet_);
    }
}

} // namespace vantrel::media
