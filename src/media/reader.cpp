#include "media/reader.hpp"

#include <algorithm>
#include <string_view>

#include <fmt/format.h>

#include "media/error.hpp"
#include "media/frame_internal.hpp"
#include "media/input_file.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
}

namespace vantrel::media {

struct AssetReader::State {
    std::filesystem::path path;
    // Declared first: the contexts below log into it until they are freed.
    LibraryLog log;
    InputContextPtr format;
    CodecContextPtr decoder;
    PacketPtr packet;
    // The demuxer has run out and the decoder has been told so.
    bool flushing = false;
    // Samples of the track the file's index lists (0 when it lists none we trust),
    // and those read whole so far.
    std::int64_t samplesListed = 0;
    std::int64_t samplesRead = 0;
};

namespace {

// The QuickTime and MPEG-4 sample tables count every sample of a track exactly;
// other containers' counts are estimates or absent.
std::int64_t samplesListed(const AVFormatContext& format, const AVStream& stream) {
    const bool sampleTable = std::string_view(format.iformat->name).starts_with("mov,");
    return sampleTable && stream.nb_frames > 0 ? stream.nb_frames : 0;
}

} // namespace

AssetReader::AssetReader(const Asset& asset) : state_(std::make_unique<State>()) {
    state_->path = asset.path();
    state_->format = openInputFile(
        asset.path(), fmt::format("open \"{}\" for reading", asset.path().string()), state_->log);
    state_->packet.reset(av_packet_alloc());
    if (!state_->packet)
        throw MediaError(AVERROR(ENOMEM), "allocate a packet");
}

AssetReader::~AssetReader() = default;

bool AssetReader::canAddOutput(const VideoTrack& track) const {
    if (output_)
        return false;
    const int index = track.streamIndex;
    if (index < 0 || static_cast<unsigned>(index) >= state_->format->nb_streams)
        return false;
    const AVCodecParameters& codec = *state_->format->streams[index]->codecpar;
    return codec.codec_type == AVMEDIA_TYPE_VIDEO && avcodec_find_decoder(codec.codec_id);
}

AssetReaderTrackOutput& AssetReader::addOutput(const VideoTrack& track) {
    if (!canAddOutput(track))
        throw MediaError(MediaFailure::misuse, "add the video track to the reader",
                         fmt::format("stream {} cannot be decoded here or an output was added",
                                     track.streamIndex));
    output_.reset(new AssetReaderTrackOutput(*this, track));
    return *output_;
}

bool AssetReader::startReading() {
    if (status_.load() != ReaderStatus::unknown)
        return false;
    try {
        if (!output_)
            throw MediaError(MediaFailure::misuse, "start reading", "the reader has no output");
        const int index = output_->track().streamIndex;
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
        state_->log.attach(decoder);
        LibraryLog* log = &state_->log;
        check(avcodec_parameters_to_context(&decoder, &parameters), action, log);
        decoder.pkt_timebase = format.streams[index]->time_base;
        // One decoding thread per core: the encoder keeps every core busy anyway,
        // and FFmpeg's own choice (one more) only holds another frame in memory.
        decoder.thread_count = std::max(1, av_cpu_count());
        decoder.thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        check(avcodec_open2(&decoder, codec, nullptr), action, log);
        state_->samplesListed = samplesListed(format, *format.streams[index]);
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

std::optional<Frame> AssetReaderTrackOutput::nextPicture() {
    AssetReader* reader = &reader_;
    if (reader->status() != ReaderStatus::reading)
        return std::nullopt;
    AssetReader::State& s = *reader->state_;
    LibraryLog* log = &s.log;
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
                return wrap(std::move(frame));
            if (rc == AVERROR_EOF) {
                finish(ReaderStatus::completed);
                return std::nullopt;
            }
            if (rc != AVERROR(EAGAIN))
                check(rc, "decode a picture", log);
            // The decoder wants more input; once flushed it has none left to want.
            if (s.flushing) {
                finish(ReaderStatus::completed);
                return std::nullopt;
            }
            rc = av_read_frame(s.format.get(), s.packet.get());
            if (rc == AVERROR_EOF) {
                // A file cut short (or truncated while we read it) ends cleanly at a
                // sample boundary; only the index can tell that samples are missing.
                if (s.samplesRead < s.samplesListed)
                    throw MediaError(MediaFailure::endedEarly, "read the video track",
                                     fmt::format("{} of the {} frames its index lists were there",
                                                 s.samplesRead, s.samplesListed));
                check(avcodec_send_packet(s.decoder.get(), nullptr), "finish decoding", log);
                s.flushing = true;
                continue;
            }
            check(rc, "read the video track", log);
            if (s.packet->stream_index == index) {
                // A sample cut off by the end of the file is not one that was there.
                if (!(s.packet->flags & AV_PKT_FLAG_CORRUPT))
                    ++s.samplesRead;
                rc = avcodec_send_packet(s.decoder.get(), s.packet.get());
            }
            av_packet_unref(s.packet.get());
            check(rc, "decode a picture", log);
        }
    } catch (const Error& e) {
        reader->error_ = e;
        finish(ReaderStatus::failed);
        return std::nullopt;
    }
}

} // namespace vantrel::media
