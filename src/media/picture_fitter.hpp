#pragma once
// Brings a decoded picture to the output frame: turned upright by the track's
// transform and scaled to the output size, in a sample layout the imaging layer
// reads.
//
// Passed through untouched (the decoder's own planes, no copy, its chroma siting
// stated in the view): an upright picture of the output size, or one odd row or
// column larger (cropped from the top-left), in planar little-endian Y′CbCr of 8
// to 16 bits with chroma halved at most and no alpha.
//
// Every other picture is rebuilt, in scratch pictures owned by the fitter and
// reused frame after frame, as 16-bit 4:4:4 Y′CbCr in the limited-range
// convention (black 4096, white 60160, chroma zero 32768, ±28672), which holds
// any source's values, super-whites included, to about 1/56000:
// - subsampled chroma is rebuilt at its siting with the kernels' taps
//   (media/chroma_siting.hpp) before anything moves, so that turning and
//   scaling keep chroma on its luma;
// - the source's matrix is kept; RGB (and grey) sources become BT.709;
// - the picture is then scaled (swscale, bicubic, plane by plane) and turned.

#include <memory>

#include "media/pixel_buffer.hpp"
#include "media/source.hpp"

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
