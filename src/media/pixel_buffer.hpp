#pragma once
// Pictures in memory.
//
// PictureView is a non-owning description of planar Y′CbCr samples; it is what
// the imaging layer reads and writes and it knows nothing of codecs.
//
// DecodedPicture is one picture as a decoder made it, in the source's own layout
// and bit depth; only media code looks inside (the picture fitter turns it into
// a PictureView).
//
// PixelBuffer owns one picture. Buffers from a PixelBufferPool are 10-bit 4:2:0
// planar, full range, BT.709-tagged, of the pool's size.
//
// Pool contract:
// - createPixelBuffer() may be called from any thread.
// - A PixelBuffer has exactly one owner; moving it moves ownership. When it is
//   destroyed its memory goes back to the pool for reuse.
// - Buffers may outlive their pool: the memory stays valid until the last buffer
//   made from it is destroyed.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "media/av_ptr.hpp"

namespace vantrel::media {

enum class YCbCrMatrix { bt709, bt601, bt2020 };
enum class ColourRange { limited, full };

// Where subsampled chroma samples sit among the luma samples (for 4:2:0, the
// first chroma sample's position in luma pixels): left (0, ½) is the MPEG-2,
// H.264 and HEVC default, centre (½, ½) that of JPEG and MPEG-1, topLeft (0, 0)
// that of BT.2020 masters; top (½, 0), bottomLeft (0, 1) and bottom (½, 1) are
// rare. An axis without subsampling has no siting.
enum class ChromaSiting { left, centre, topLeft, top, bottomLeft, bottom };

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
    YCbCrMatrix matrix = YCbCrMatrix::bt709;
    ColourRange range = ColourRange::limited;
    ChromaSiting siting = ChromaSiting::left;
};

class DecodedPicture {
public:
    explicit DecodedPicture(FramePtr frame) : frame_(std::move(frame)) {}
    DecodedPicture(DecodedPicture&&) noexcept = default;
    DecodedPicture& operator=(DecodedPicture&&) noexcept = default;

private:
    friend const AVFrame& frameOf(const DecodedPicture& picture);
    FramePtr frame_;
};

class PixelBuffer {
public:
    explicit PixelBuffer(FramePtr frame);
    PixelBuffer(PixelBuffer&&) noexcept = default;
    PixelBuffer& operator=(PixelBuffer&&) noexcept = default;

    int width() const;
    int height() const;
    PictureView view() const;

private:
    friend AVFrame& frameOf(const PixelBuffer& buffer);
    FramePtr frame_;
};

class PixelBufferPool {
public:
    PixelBufferPool(int width, int height);
    ~PixelBufferPool();
    PixelBufferPool(const PixelBufferPool&) = delete;
    PixelBufferPool& operator=(const PixelBufferPool&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    // A recycled or new buffer; nothing when memory runs out.
    std::optional<PixelBuffer> createPixelBuffer();

private:
    int width_;
    int height_;
    BufferPoolPtr planes_[3];
    int planeSizes_[3] = {};
    int strides_[3] = {};
};

} // namespace vantrel::media
