#pragma once
// Brings a decoded picture to the output frame: turned upright by the track's
// transform and scaled to the output size, in a sample layout the imaging layer
// reads (planar Y′CbCr, 8 or 16-bit samples).
//
// When the picture needs neither (identity transform, already the output size or
// larger and cropped from the top-left, a planar layout) it is passed through
// untouched: no copy. Otherwise swscale scales (bicubic, accurate rounding) into
// scratch pictures owned by the fitter and reused frame after frame; matrix and
// range are kept, never converted.

#include <memory>

#include "media/asset.hpp"
#include "media/pixel_buffer.hpp"

namespace vantrel::media {

// The eight ways to turn or mirror a picture in quarter turns.
enum class Orientation {
    up,            // identity
    upMirrored,    // mirrored left to right
    down,          // half turn
    downMirrored,  // mirrored top to bottom
    left,          // quarter turn counter-clockwise
    leftMirrored,  // transpose
    right,         // quarter turn clockwise
    rightMirrored, // transverse
};

// The nearest quarter-turn orientation of a transform's linear part.
Orientation orientationOf(const AffineTransform& transform);
// True when the orientation swaps width and height.
bool swapsSides(Orientation orientation);

class PictureFitter {
public:
    // outputWidth × outputHeight is the encoded frame size.
    PictureFitter(int outputWidth, int outputHeight, Orientation orientation);
    ~PictureFitter();
    PictureFitter(const PictureFitter&) = delete;
    PictureFitter& operator=(const PictureFitter&) = delete;

    // A view of the picture fitted to the output size. Valid until the next call
    // or until the frame is released. Throws MediaError if swscale fails.
    PictureView fit(const DecodedPicture& decoded);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vantrel::media
