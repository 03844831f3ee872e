#pragma once
// Reading a decoded frame's samples whatever the decoder's pixel layout:
// planar, semi-planar or packed Y′CbCr of any depth and byte order, RGB, grey
// and palette pictures, and the layouts only swscale understands (float,
// Bayer, XYZ). What the fitter (imaging/fitter.hpp) builds its pictures from.
//
// One reader serves one export's frames on one thread; it keeps scratch
// memory from frame to frame.

#include <cstdint>
#include <memory>
#include <optional>

#include "core/picture.hpp"
#include "media/frame.hpp"

namespace vantrel::media {

struct Layout {
    // Y′CbCr samples (read with readRow), or anything else (read with
    // readConverted).
    bool yCbCr = false;
    int lumaDepth = 8;
    int chromaDepth = 8;
    int chromaShiftX = 0;
    int chromaShiftY = 0;
    ColourDescription colour;
};

// The frame as it is, cropped to width × height from the top-left, when its
// layout is planar little-endian Y′CbCr of 8 to 16 bits in the low bits, chroma
// halved at most, no alpha: what the grade reads without a copy.
std::optional<PictureView> planarView(const Frame& frame, int width, int height);

class LayoutReader {
public:
    LayoutReader();
    ~LayoutReader();
    LayoutReader(const LayoutReader&) = delete;
    LayoutReader& operator=(const LayoutReader&) = delete;

    // Throws Error (domain "media") when the frame's samples are not in memory
    // or its layout is not described.
    Layout layoutOf(const Frame& frame) const;

    // Codes of component `component` (0 Y′, 1 Cb, 2 Cr) of row y, `count`
    // samples from the left, for a Y′CbCr layout.
    void readRow(const Frame& frame, int component, int y, int count, std::uint16_t* out) const;

    // For every other layout: width × height from the top-left as BT.709
    // Y′CbCr into `to` (16-bit 4:4:4, codeRange(limited, 16)). RGB and palette
    // codes are full range; grey is full range unless the stream says limited.
    void readConverted(const Frame& frame, int width, int height, const PictureView& to);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vantrel::media
