#include "imaging/fitter.hpp"

#include <optional>

#include "media/frame_internal.hpp"
#include "media/media_clips.hpp"
#include "media/orientation.hpp"

namespace vantrel::imaging {
namespace {

using test::sampleAt;

// A transform's linear part (dx, dy) is read as its orientation also when scaled
// and turned up to 40° further. (Where each pixel lands is proven against the
// formula in grade_routes_test.)
TEST(Fitter, ReadsTheOrientationOfATransform) {
    struct {
        Orientation orientation;
        int dx[2], dy[2];
    } const cases[] = {
        {Orientation::up, {1, 0}, {0, 1}},     {Orientation::upMirrored, {-1, 0}, {0, 1}},
        {Orientation::down, {-1, 0}, {0, -1}}, {Orientation::downMirrored, {1, 0}, {0, -1}},
        {Orientation::left, {0, -1}, {1, 0}},  {Orientation::leftMirrored, {0, 1}, {1, 0}},
        {Orientation::right, {0, 1}, {-1, 0}}, {Orientation::rightMirrored, {0, -1}, {-1, 0}}};
    for (const auto& c : cases)
        for (const double r : {0.0, 0.7, -0.7}) {
            const double cs = 2.5 * std::cos(r), sn = 2.5 * std::sin(r);
            EXPECT_EQ(
                media::orientationOf({c.dx[0] * cs - c.dx[1] * sn, c.dx[0] * sn + c.dx[1] * cs,
                                      c.dy[0] * cs - c.dy[1] * sn, c.dy[0] * sn + c.dy[1] * cs}),
                c.orientation)
                << int(c.orientation) << " " << r;
            EXPECT_EQ(swapsSides(c.orientation), c.dx[0] == 0);
        }
}

// Passed through means the decoder's own planes; converted means 16-bit 4:4:4 holding
// the same values in the limited-range convention. Untagged pictures are BT.601 up to 576
// lines, BT.709 above (by the decoded height, before a crop); range comes from the tag or
// full-range formats. A fitter serves consecutive cases with the same output, so its
// reused scratch must show each new frame.
TEST(Fitter, PassesThroughOnlyWhenNothingNeedsDoingAndKeepsMatrixAndRange) {
    using M = Matrix;
    constexpr auto up = Orientation::up, right = Orientation::right;
    constexpr auto full = Range::full, limited = Range::limited;
    struct {
        AVPixelFormat format;
        int width, height, outWidth, outHeight;
        Orientation orientation;
        int bitDepth, shiftX, shiftY; // 16, 0, 0: converted
        Matrix matrix = M::smpte170m;
        Range expectedRange = limited;
        AVColorSpace colourSpace = AVCOL_SPC_UNSPECIFIED;
        AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    } const cases[] = {{AV_PIX_FMT_YUV422P, 64, 48, 64, 48, up, 8, 1, 0},
                       {AV_PIX_FMT_YUV444P, 64, 48, 64, 48, up, 8, 0, 0},
                       // One odd line too many is cropped, not scaled.
                       {AV_PIX_FMT_YUV420P, 65, 49, 64, 48, up, 8, 1, 1},
                       {AV_PIX_FMT_YUV420P, 66, 48, 64, 48, up, 16, 0, 0},
                       {AV_PIX_FMT_YUV420P, 32, 24, 64, 48, up, 16, 0, 0},
                       {AV_PIX_FMT_YUV410P, 64, 48, 64, 48, up, 16, 0, 0},
                       {AV_PIX_FMT_YUV420P10BE, 64, 48, 64, 48, up, 16, 0, 0},
                       {AV_PIX_FMT_YUVA420P, 64, 48, 64, 48, up, 16, 0, 0},
                       {AV_PIX_FMT_YUV420P10LE, 65, 49, 48, 64, Orientation::left, 16, 0, 0},
                       {AV_PIX_FMT_YUV420P, 16, 480, 16, 480, up, 8, 1, 1, M::bt709, limited,
                        AVCOL_SPC_BT709, AVCOL_RANGE_MPEG},
                       {AV_PIX_FMT_YUV420P, 16, 1080, 1080, 16, right, 16, 0, 0, M::smpte170m, full,
                        AVCOL_SPC_BT470BG, AVCOL_RANGE_JPEG},
                       {AV_PIX_FMT_YUV420P10LE, 16, 480, 16, 480, up, 10, 1, 1, M::bt2020ncl,
                        limited, AVCOL_SPC_BT2020_NCL},
                       {AV_PIX_FMT_YUV420P, 16, 576, 576, 16, right, 16, 0, 0},
                       {AV_PIX_FMT_YUV420P, 16, 577, 16, 576, up, 8, 1, 1, M::bt709},
                       {AV_PIX_FMT_YUVJ420P, 16, 578, 16, 578, up, 8, 1, 1, M::bt709, full},
                       {AV_PIX_FMT_YUVJ420P, 16, 578, 578, 16, right, 16, 0, 0, M::bt709, full}};
    std::optional<Fitter> fitter;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i);
        auto frame = test::makeFrame(c.format, c.width, c.height, [](int p, int, int) {
            return std::array{100, 90, 160}[p];
        });
        frame->colorspace = c.colourSpace;
        frame->color_range = c.range;
        const media::Frame picture = media::wrap(std::move(frame));
        const auto& last = cases[i ? i - 1 : 0];
        if (!fitter || c.outWidth != last.outWidth || c.outHeight != last.outHeight ||
            c.orientation != last.orientation)
            fitter.emplace(c.outWidth, c.outHeight, c.orientation);
        const PictureView view = fitter->fit(picture);
        const int shift = c.bitDepth - av_pix_fmt_desc_get(c.format)->comp[0].depth;
        EXPECT_EQ(std::tuple(view.width, view.height, view.bitDepth, view.chromaShiftX,
                             view.chromaShiftY, resolvedMatrix(view.colour.matrix, view.height),
                             resolvedRange(view.colour.range)),
                  std::tuple(c.outWidth, c.outHeight, c.bitDepth, c.shiftX, c.shiftY, c.matrix,
                             shift ? limited : c.expectedRange));
        for (int p = 0; p < 3; ++p) {
            EXPECT_EQ(view.planes[p].data == media::avFrame(picture).data[p], shift == 0);
            const int x = (c.outWidth - 1) >> (p ? c.shiftX : 0);
            // Rebuilt pictures hold full-range codes in the 16-bit limited convention.
            const int code = std::array{100, 90, 160}[p];
            const long rebuiltFull =
                std::lround(p ? 32768 + 57344 * (code - 128) / 255.0 : 4096 + 56064 * code / 255.0);
            EXPECT_EQ(sampleAt(view, p, p == 1 ? 0 : x, (c.outHeight - 1) >> (p ? c.shiftY : 0)),
                      shift && c.expectedRange == full ? rebuiltFull : code << shift);
        }
    }
}

} // namespace
} // namespace vantrel::imaging
