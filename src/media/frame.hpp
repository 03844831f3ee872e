#pragma once
// Frames: pictures owned by the media layer, decoded or to be encoded.
//
// A Frame owns one picture and has exactly one owner; moving it moves
// ownership. Its samples stay valid until it is destroyed. view() describes
// the planes and the colour description; only media code sees the codec
// library's frame behind it (media/frame_internal.hpp).
//
// FramePool contract:
// - Frames from a pool are 10-bit 4:2:0 planar, full range, tagged BT.709
//   (bt709Full), of the pool's size, rows aligned to 64 bytes.
// - acquire() may be called from any thread at the same time.
// - Destroying a frame gives its memory back to the pool for reuse.
// - Frames may outlive their pool: the memory stays valid until the last frame
//   made from it is destroyed.

#include <memory>
#include <optional>

#include "core/picture.hpp"

namespace vantrel::media {

// Defined in media/frame_internal.hpp.
struct FrameData;
struct FrameDataDeleter {
    void operator()(FrameData* data) const noexcept;
};

class Frame {
public:
    Frame() = default; // empty
    explicit Frame(std::unique_ptr<FrameData, FrameDataDeleter> data);
    Frame(Frame&&) noexcept = default;
    Frame& operator=(Frame&&) noexcept = default;

    explicit operator bool() const { return data_ != nullptr; }
    int width() const;
    int height() const;
    // The planes as they are in memory. For a layout that is not planar
    // Y′CbCr of 8 to 16 bits (semi-planar, packed, RGB, …) the planes are the
    // codec library's own and only media code reads them. Not for an empty frame.
    PictureView view() const;

    FrameData* data() const { return data_.get(); }

private:
    std::unique_ptr<FrameData, FrameDataDeleter> data_;
};

class FramePool {
public:
    FramePool(int width, int height);
    ~FramePool();
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    // A recycled or new frame; nothing when memory runs out or the size is
    // beyond what the library can hold.
    std::optional<Frame> acquire();

private:
    struct Planes;
    int width_;
    int height_;
    std::unique_ptr<Planes> planes_;
};

} // namespace vantrel::media
