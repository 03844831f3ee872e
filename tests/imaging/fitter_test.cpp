#include "imaging/fitter.hpp"

#include <cmath>

#include "media/frame_internal.hpp"
#include "media/media_clips.hpp"
#include "media/orientation.hpp"

namespace vantrel::imaging {
namespace {

// A transform's linear part (dx, dy) is read as its orientation also when scaled
// and turned up to 40° further. (Where each pixel lands is proven against the
// formula in grade_routes_test.)
TEST(Fitter, ReadsTheOrientationOfATransform) {
    const int axes[8][4] = {{1, 0, 0, 1},  {-1, 0, 0, 1}, {-1, 0, 0, -1}, {1, 0, 0, -1},
                            {0, -1, 1, 0}, {0, 1, 1, 0},  {0, 1, -1, 0},  {0, -1, -1, 0}};
    for (int i = 0; i < 8 * 3; ++i) {
        const int* m = axes[i / 3];
        const double r = 0.7 * (i % 3 - 1), cs = 2.5 * std::cos(r), sn = 2.5 * std::sin(r);
        EXPECT_EQ(media::orientationOf({m[0] * cs - m[1] * sn, m[0] * sn + m[1] * cs,
                                        m[2] * cs - m[3] * sn, m[2] * sn + m[3] * cs}),
                  Orientation(i / 3))
            << i / 3 << " turned by " << r;
    }
}

// Passed through means the decoder's own planes. Untagged pictures are BT.601 up
// to 576 lines, BT.709 above (by the decoded height, before a crop); range comes
// from the tag or full-range formats; rebuilt pictures are limited range.
TEST(Fitter, PassesThroughOnlyWhenNothingNeedsDoingAndKeepsMatrixAndRange) {
    using M = Matrix;
    constexpr auto up = Orientation::up, right = Orientation::right;
    constexpr auto full = Range::full, limited = Range::limited;
    const struct {
        AVPixelFormat format;
        int width, height, outWidth, outHeight;
        Orientation orientation;
        bool passed;
        Matrix matrix = M::smpte170m;
        Range range = limited;
        AVColorSpace matrixTag = AVCOL_SPC_UNSPECIFIED;
        AVColorRange rangeTag = AVCOL_RANGE_UNSPECIFIED;
    } cases[] = {{AV_PIX_FMT_YUV422P, 64, 48, 64, 48, up, true},
                 // One odd line too many is cropped, not scaled.
                 {AV_PIX_FMT_YUV420P, 65, 49, 64, 48, up, true},
                 {AV_PIX_FMT_YUV420P, 66, 48, 64, 48, up, false},
                 {AV_PIX_FMT_YUV410P, 64, 48, 64, 48, up, false},
                 {AV_PIX_FMT_YUV420P10LE, 16, 480, 16, 480, up, true, M::bt2020ncl, full,
                  AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_JPEG},
                 {AV_PIX_FMT_YUV420P, 16, 1080, 1080, 16, right, false, M::smpte170m, limited,
                  AVCOL_SPC_BT470BG, AVCOL_RANGE_JPEG},
                 {AV_PIX_FMT_YUV420P, 16, 576, 16, 576, up, true},
                 {AV_PIX_FMT_YUV420P, 16, 577, 16, 576, up, true, M::bt709},
                 {AV_PIX_FMT_YUVJ420P, 16, 578, 16, 578, up, true, M::bt709, full},
                 {AV_PIX_FMT_YUVJ420P, 16, 578, 578, 16, right, false, M::bt709}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << av_get_pix_fmt_name(c.format) << ' ' << c.height);
        auto frame = test::makeFrame(c.format, c.width, c.height, [](int, int, int) { return 99; });
        frame->colorspace = c.matrixTag;
        frame->color_range = c.rangeTag;
        const media::Frame picture = media::wrap(std::move(frame));
        Fitter fitter(c.outWidth, c.outHeight, c.orientation);
        const PictureView view = fitter.fit(picture);
        EXPECT_EQ(std::tuple(view.planes[0].data == media::avFrame(picture).data[0],
                             resolvedMatrix(view.colour.matrix, view.height),
                             resolvedRange(view.colour.range)),
                  std::tuple(c.passed, c.matrix, c.range));
    }
}

} // namespace
} // namespace vantrel::imaging
