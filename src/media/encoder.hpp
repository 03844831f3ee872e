#pragma once
// The HEVC Main 10 encoder (libx265): EncoderSettings in, packets out to a Muxer.
// The one encode loop of the engine: send a picture, receive packets until the
// encoder wants more, hand each to the muxer; at the end send nothing and
// receive until the encoder is empty.
//
// Threading: one thread at a time (libx265 runs threads of its own inside).

#include <cstdint>
#include <functional>
#include <string>

#include "media/av_ptr.hpp"
#include "media/encoder_settings.hpp"
#include "media/error.hpp"
#include "media/frame.hpp"

namespace vantrel::media {

class Muxer;

// The x265 parameter list for these settings (closed GOPs, no repeated headers,
// quiet logging, the key-frame interval, no B-frames unless reordering is
// allowed, and the VBV limits from the maximum bitrate in kbit/s).
std::string x265Parameters(const EncoderSettings& settings);

class Encoder {
public:
    // Checks the settings and opens the encoder. `globalHeader`: the parameter
    // sets go into the codec's extradata rather than before each key frame (what
    // the movie muxers want, see Muxer::wantsGlobalHeader). Throws MediaError for
    // settings it cannot honour and when the encoder refuses to open.
    Encoder(const EncoderSettings& settings, bool globalHeader);
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // The opened context, for the muxer to describe its stream from.
    const AVCodecContext& context() const { return *context_; }

    // Encodes `picture` (of the settings' size, 10-bit 4:2:0) at `pts` frame steps
    // of 1/timescale seconds, and writes every packet that is ready. The encoder
    // copies the picture. Throws MediaError (MediaFailure::wrongPicture for a
    // picture of another size or format).
    void encode(const Frame& picture, std::int64_t pts, Muxer& muxer);
    // Ends the stream and writes the packets still inside the encoder, calling
    // `betweenPackets` before each (it may throw to stop). Throws MediaError.
    void flush(Muxer& muxer, const std::function<void()>& betweenPackets);

private:
    void drain(Muxer& muxer, const std::function<void()>* betweenPackets);

    // Declared first: the context logs into it until it is freed.
    LibraryLog log_;
    CodecContextPtr context_;
    PacketPtr packet_;
    std::int64_t frameStep_;
};

} // namespace vantrel::media
