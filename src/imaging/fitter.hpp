#pragma once
// Brings a decoded frame to the output frame: turned upright by the track's
// orientation and scaled to the output size, as planar Y′CbCr the grade reads.
//
// Passed through untouched (the decoder's own planes, no copy, its colour
// description stated in the view): an upright picture of the output size, or
// one odd row or column larger (cropped from the top-left), in planar
// little-endian Y′CbCr of 8 to 16 bits with chroma halved at most and no alpha.
//
// Every other picture is rebuilt, in scratch pictures owned by the fitter and
// reused frame after frame, as 16-bit 4:4:4 Y′CbCr in the limited-range
// convention (codeRange(limited, 16): black 4096, white 60160, chroma zero
// 32768 ± 28672), which holds any source's values, super-whites included, to
// about 1/56000:
// - the layout is read into planes (media/picture_layout.hpp); RGB, grey and
//   palette sources become BT.709 Y′CbCr there;
// - subsampled chroma is rebuilt at its siting with the kernels' taps
//   (imaging/chroma.hpp) before anything moves, so that turning and scaling
//   keep chroma on its luma; the source's matrix is kept;
// - the picture is then scaled (media/picture_scaler.hpp) and turned.
//
// One fitter serves one export's frames on one thread.

#include <memory>

#include "core/picture.hpp"
#include "media/frame.hpp"

namespace vantrel::imaging {

class Fitter {
public:
    // width × height is the encoded frame size.
    Fitter(int width, int height, Orientation orientation);
    ~Fitter();
    Fitter(const Fitter&) = delete;
    Fitter& operator=(const Fitter&) = delete;

    // A view of the frame fitted to the output size. Valid until the next call
    // or until the frame is destroyed. Throws Error when the frame's samples
    // cannot be read or scaled.
    PictureView fit(const media::Frame& decoded);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vantrel::imaging
