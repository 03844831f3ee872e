#pragma once
// Pictures as a viewer shows them: R′G′B′ by the picture's own matrix and range.

#include <cstdint>
#include <vector>

#include "core/picture.hpp"

namespace vantrel::imaging {

// R′G′B′ of a planar Y′CbCr picture of 8 to 16 bits, 16 bits per channel (0 to
// 65535), pixels of R, G, B row after row. Chroma is rebuilt with the same taps
// as the grade's; values beyond 0..1 are clipped.
std::vector<std::uint16_t> toRgb16(const PictureView& picture);

} // namespace vantrel::imaging
