#include "media/reader.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "media/input_file.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
}

namespace vantrel::media {

namespace {

struct CodecContextFreer {
    void operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};

} // namespace

struct AssetReader::State {
    std::filesystem::path path;
    FormatContextPtr format;
    std::unique_ptr<AVCodecContext, CodecContextFreer> decoder;
    std::unique_ptr<AVPacket, PacketFreer> packet;
    AssetReaderTrackOutput* output = nullptr;
    // The demuxer has run out and the decoder has been told so.
    bool flushing = false;
};

struct AssetReaderTrackOutput::State {
    AssetReader* reader = nullptr;
};

DecodedSample::DecodedSample(FramePtr frame) : frame_(std::move(frame)) {}

AssetReaderTrackOutput::AssetReaderTrackOutput(VideoTrack track)
    : track_(std::move(track)), state_(std::make_unique<State>()) {}

AssetReaderTrackOutput::~AssetReaderTrackOutput() {
    if (state_->reader)
        state_->reader->state_->output = nullptr;
}

AssetReader::AssetReader(const Asset& asset) : state_(std::make_unique<State>()) {
    state_->path = asset.path();
    state_->format =
        openInputFile(asset.path(), fmt::format("open \"{}\" for reading", asset.path().string()));
    state_->packet.reset(av_packet_alloc());
    if (!state_->packet)
        throw MediaError(AVERROR(ENOMEM), "allocate a packet");
}

AssetReader::~AssetReader() {
    if (state_->output)
        state_->output->state_->reader = nullptr;
}

bool AssetReader::canAddOutput(const AssetReaderTrackOutput& output) const {
    if (state_->output || output.state_->reader)
        return false;
    const int index = output.track().streamIndex;
    if (index < 0 || static_cast<unsigned>(index) >= state_->format->nb_streams)
        return false;
    const AVCodecParameters& codec = *state_->format->streams[index]->codecpar;
    return codec.codec_type == AVMEDIA_TYPE_VIDEO && avcodec_find_decoder(codec.codec_id);
}

void AssetReader::addOutput(AssetReaderTrackOutput& output) {
    if (!canAddOutput(output))
        throw MediaError("add the video track to the reader",
                         fmt::format("stream {} cannot be decoded here or an output was added",
                                     output.track().streamIndex));
    state_->output = &output;
    output.state_->reader = this;
}

bool AssetReader::startReading() {
    if (status_.load() != ReaderStatus::unknown)
        return false;
    try {
        if (!state_->output)
            throw MediaError("start reading", "the reader has no output");
        const int index = state_->output->track().streamIndex;
        AVFormatContext& format = *state_->format;
        const AVCodecParameters& parameters = *format.streams[index]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
        const std::string action =
            fmt::format("open the {} decoder for \"{}\"", avcodec_get_name(parameters.codec_id),
                        state_->path.string());
        state_->decoder.reset(avcodec_alloc_context3(codec));
        if (!state_->decoder)
            throw MediaError(AVERROR(ENOMEM), action);
        AVCodecContext& decoder = *state_->decoder;
        check(avcodec_parameters_to_context(&decoder, &parameters), action);
        decoder.pkt_timebase = format.streams[index]->time_base;
        // One decoding thread per core: the encoder keeps every core busy anyway,
        // and FFmpeg's own choice (one more) only holds another frame in memory.
        decoder.thread_count = std::max(1, av_cpu_count());
        decoder.thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        check(avcodec_open2(&decoder, codec, nullptr), action);
        for (unsigned i = 0; i < format.nb_streams; ++i)
            format.streams[i]->discard =
                static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    } catch (const Error& e) {
        error_ = e;
        status_ = ReaderStatus::failed;
        return false;
    }
    status_ = ReaderStatus::reading;
    return true;
}

void AssetReader::cancelReading() {
    ReaderStatus current = status_.load();
    while ((current == ReaderStatus::unknown || current == ReaderStatus::reading) &&
           !status_.compare_exchange_weak(current, ReaderStatus::cancelled)) {
    }
}

std::optional<DecodedSample> AssetReaderTrackOutput::copyNextSample() {
    AssetReader* reader = state_->reader;
    if (!reader || reader->status() != ReaderStatus::reading)
        return std::nullopt;
    AssetReader::State& s = *reader->state_;
    const int index = track_.streamIndex;
    // A cancel that came meanwhile from another thread wins over the end we reached.
    auto finish = [&](ReaderStatus end) {
        ReaderStatus expected = ReaderStatus::reading;
        reader->status_.compare_exchange_strong(expected, end);
    };
    try {
        FramePtr frame(av_frame_alloc());
        if (!frame)
            throw MediaError(AVERROR(ENOMEM), "allocate a frame");
        for (;;) {
            int rc = avcodec_receive_frame(s.decoder.get(), frame.get());
            if (rc == 0)
                return DecodedSample(std::move(frame));
            if (rc == AVERROR_EOF) {
                finish(ReaderStatus::completed);
                return std::nullopt;
            }
            if (rc != AVERROR(EAGAIN))
                check(rc, "decode a picture");
            // The decoder wants more input; once flushed it has none left to want.
            if (s.flushing) {
                finish(ReaderStatus::completed);
                return std::nullopt;
            }
            rc = av_read_frame(s.format.get(), s.packet.get());
            if (rc == AVERROR_EOF) {
                check(avcodec_send_packet(s.decoder.get(), nullptr), "finish decoding");
                s.flushing = true;
                continue;
            }
            check(rc, "read the video track");
            if (s.packet->stream_index == index)
                rc = avcodec_send_packet(s.decoder.get(), s.packet.get());
            av_packet_unref(s.packet.get());
            check(rc, "decode a picture");
        }
    } catch (const Error& e) {
        reader->error_ = e;
        finish(ReaderStatus::failed);
        return std::nullopt;
    }
}

} // namespace vantrel::media
