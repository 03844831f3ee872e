#include "media/picture_scaler.hpp"

#include <optional>

#include "media/error.hpp"
#include "media/frame_internal.hpp"

extern "C" {
#include <libswscale/swscale.h>
}

namespace vantrel::media {

namespace {

struct SwsContextFreer {
    void operator()(SwsContext* context) const noexcept { sws_freeContext(context); }
};

constexpr AVPixelFormat picture16 = AV_PIX_FMT_YUV444P16LE;

} // namespace

Frame allocatePicture16(int width, int height) {
    return wrap(allocateFrame(width, height, picture16));
}

struct PictureScaler::State {
    std::unique_ptr<SwsContext, SwsContextFreer> context;
    int from[2] = {};
    int to[2] = {};
};

PictureScaler::PictureScaler() : state_(std::make_unique<State>()) {}
PictureScaler::~PictureScaler() = default;

void PictureScaler::scale(const PictureView& from, const PictureView& to) {
    State& s = *state_;
    const char* const action = "scale a picture";
    if (!s.context || s.from[0] != from.width || s.from[1] != from.height || s.to[0] != to.width ||
        s.to[1] != to.height) {
        s.context.reset(sws_getCachedContext(
            s.context.release(), from.width, from.height, picture16, to.width, to.height, picture16,
            SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
        if (!s.context)
            throw MediaError(action, "the scaler could not be set up");
        s.from[0] = from.width, s.from[1] = from.height, s.to[0] = to.width, s.to[1] = to.height;
    }
    const std::uint8_t* const source[4] = {from.planes[0].data, from.planes[1].data,
                                           from.planes[2].data, nullptr};
    const int sourceStrides[4] = {static_cast<int>(from.planes[0].stride),
                                  static_cast<int>(from.planes[1].stride),
                                  static_cast<int>(from.planes[2].stride), 0};
    std::uint8_t* const target[4] = {to.planes[0].data, to.planes[1].data, to.planes[2].data,
                                     nullptr};
    const int targetStrides[4] = {static_cast<int>(to.planes[0].stride),
                                  static_cast<int>(to.planes[1].stride),
                                  static_cast<int>(to.planes[2].stride), 0};
    check(sws_scale(s.context.get(), source, sourceStrides, 0, from.height, target, targetStrides),
          action);
}

} // namespace vantrel::media
