#pragma once
// One mapping between FFmpeg's colour enums and ColourDescription, used by
// whoever reads a stream and by the encoder's tags. Media-internal.

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "core/colour.hpp"

namespace vantrel::media {

// What the stream's parameters say.
ColourDescription describe(const AVCodecParameters& codec);
// What the frame says; the full-range ("J") pixel formats are full range
// whatever the tag says.
ColourDescription describe(const AVFrame& frame);

// The tags to set on an encoder and its frames.
AVColorPrimaries toFFmpeg(Primaries primaries);
AVColorTransferCharacteristic toFFmpeg(Transfer transfer);
AVColorSpace toFFmpeg(Matrix matrix);
AVColorRange toFFmpeg(Range range);
AVChromaLocation toFFmpeg(ChromaSiting siting);

} // namespace vantrel::media
