#pragma once
// How a decoded picture's colour tags read in our terms. Pictures that carry no
// tag get the usual guesses: BT.709 above standard definition, BT.601 at or
// below it, limited range.

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "media/pixel_buffer.hpp"

namespace vantrel::media {

// The Y′CbCr matrix of a picture `height` rows tall tagged `colourSpace`.
YCbCrMatrix matrixOf(AVColorSpace colourSpace, int height);

// The range of a picture tagged `range`; the full-range ("J") pixel formats are
// full whatever the tag says.
ColourRange rangeOf(AVColorRange range, AVPixelFormat format);

// swscale's coefficient table for a matrix (sws_getCoefficients).
const int* swscaleCoefficients(YCbCrMatrix matrix);

} // namespace vantrel::media
