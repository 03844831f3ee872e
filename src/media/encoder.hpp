#pragma once
// The HEVC encoder configuration: VideoSettings and EncoderOptions turned into an
// opened libx265 codec context (Main 10, 4:2:0 10-bit, BT.709, full range).
// Internal to the media layer.

#include <string>

#include "media/av_ptr.hpp"
#include "media/video_settings.hpp"

namespace vantrel {
class LibraryLog;
}

namespace vantrel::media {

// The x265 parameter list for these settings (closed GOPs, no repeated headers,
// quiet logging, the key-frame interval, no B-frames unless reordering is
// allowed, and the VBV limits from the data-rate limit in kbit/s).
std::string x265Parameters(const VideoSettings& settings);

// Checks the settings and opens the encoder. The frame rate comes from the
// options' time base; the settings' expected source frame rate is not used.
// `globalHeader`: the parameter sets go into the codec's extradata rather than
// before each key frame (what the movie muxers want). Throws MediaError for
// settings it cannot honour and when the encoder refuses to open. The encoder
// logs into `log`.
CodecContextPtr openHevcEncoder(const VideoSettings& settings, const EncoderOptions& options,
                                bool globalHeader, LibraryLog& log);

} // namespace vantrel::media
