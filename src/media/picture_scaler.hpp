#pragma once
// Scaling the fitter's 16-bit 4:4:4 pictures.

#include <memory>

#include "core/picture.hpp"
#include "media/frame.hpp"

namespace vantrel::media {

// A 16-bit 4:4:4 planar frame (the fitter's scratch pictures). Throws Error
// (domain "media") when memory runs out.
Frame allocatePicture16(int width, int height);

// swscale, bicubic, 16-bit 4:4:4 to 16-bit 4:4:4 of another size. Set up again
// only when the sizes change. One thread at a time.
class PictureScaler {
public:
    PictureScaler();
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // Throws Error (domain "media") when swscale refuses.
    void scale(const PictureView& from, const PictureView& to);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vantrel::media
