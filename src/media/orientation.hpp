#pragma once
// Turning and mirroring pictures in quarter turns.

#include "core/picture.hpp"
#include "media/source.hpp"

namespace vantrel::media {

// The nearest quarter-turn orientation of a transform's linear part.
Orientation orientationOf(const AffineTransform& transform);

// Copies the 16-bit 4:4:4 `upright` picture into `to` turned by `orientation`;
// `to` has the turned size.
void turn(const PictureView& upright, const PictureView& to, Orientation orientation);

} // namespace vantrel::media
