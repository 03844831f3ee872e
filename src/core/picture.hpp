#pragma once
// A picture in memory, as the imaging layer reads and writes it: planar Y′CbCr
// samples with their colour description. A view owns nothing; whoever made it
// says how long its planes stay valid. No codec library here.

#include <cstddef>
#include <cstdint>

#include "core/colour.hpp"

namespace vantrel {

struct Plane {
    std::uint8_t* data = nullptr;
    std::ptrdiff_t stride = 0; // bytes from one row to the next
};

struct PictureView {
    int width = 0;
    int height = 0;
    // 8: one byte per sample. 9 to 16: little-endian 16-bit samples whose low
    // bitDepth bits hold the value.
    int bitDepth = 8;
    // log2 of the chroma subsampling: 4:2:0 is (1, 1), 4:2:2 (1, 0), 4:4:4 (0, 0).
    int chromaShiftX = 1;
    int chromaShiftY = 1;
    Plane planes[3]; // Y′, Cb, Cr
    ColourDescription colour;
};

} // namespace vantrel
