// The fitter's choices, then whole routes from a decoded frame to output codes:
// the fitter (pass-through, rebuilt, turned, RGB) and the grade together,
// against the independent double-precision formula. The kernels' own tests prove
// every kernel; here the default one grades.

#include <cmath>
#include <random>

#include "imaging/fitter.hpp"
#include "imaging/grade.hpp"
#include "imaging/grade_reference.hpp"
#include "media/frame_internal.hpp"
#include "media/media_clips.hpp"

namespace vantrel::imaging {
namespace {

using test::cube;
using test::RgbPicture;

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

// A new reference to the test frame's samples, so that pass-through routes
// read the frame's own memory.
media::Frame decoded(const media::FramePtr& frame) {
    return media::wrap(media::FramePtr(av_frame_clone(frame.get())));
}

// The fitted picture graded into a new 10-bit 4:2:0 frame.
media::Frame graded(const PictureView& fitted, const std::vector<float>& cube) {
    media::FramePool pool(fitted.width, fitted.height);
    media::Frame out = *pool.acquire();
    Grade(std::lround(std::cbrt(cube.size() / 3)), cube).render(fitted, out.view());
    return out;
}

// R′G′B′ of a frame by the definition of its layout, over width × height.
RgbPicture decodeFrame(const AVFrame& frame, int width, int height, Matrix matrix, Range range,
                       ChromaSiting siting) {
    const auto* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    const auto code = [&](int c, int x, int y) {
        std::uint16_t v;
        av_read_image_line2(&v, const_cast<const std::uint8_t**>(frame.data), frame.linesize, desc,
                            x, y, c, 1, 0, 2);
        return int(v);
    };
    if (!(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && desc->nb_components >= 3)
        return test::decodeYCbCr(
            {desc->comp[0].depth, desc->log2_chroma_w, desc->log2_chroma_h, range, matrix, siting},
            width, height, code);
    RgbPicture out{width, height, std::vector<test::Rgb>(std::size_t(width) * height)};
    const auto* palette = reinterpret_cast<const std::uint32_t*>(frame.data[1]);
    const double unit = std::ldexp(1.0, desc->comp[0].depth - 8);
    for (int i = 0; i < width * height * 3; ++i) {
        const int x = i / 3 % width, y = i / 3 / width, c = i % 3;
        const int from = desc->nb_components < 3 ? 0 : c, v = code(from, x, y);
        out.at(x, y)[c] = desc->flags & AV_PIX_FMT_FLAG_PAL
                              ? (palette[v] >> (16 - 8 * c) & 255) / 255.0
                          : desc->nb_components < 3 && range == Range::limited
                              ? (v - 16 * unit) / (219 * unit)
                              : v / (std::ldexp(1.0, desc->comp[from].depth) - 1);
    }
    return out;
}

// Random codes in one layout per way of reading samples, each turn once: every
// output code within one code of the formula, also when the fitter has served
// another frame before. Semi-planar, shifted and big-endian layouts go through
// the generic reader (an odd extra line is cropped); RGB and grey become BT.709,
// grey full range unless tagged limited. A scattered cube magnifies any error
// in the values handed to it.
TEST(GradeRoutes, EveryLayoutAndTurnMatchesTheFormula) {
    using M = Matrix;
    using O = Orientation;
    using S = ChromaSiting;
    constexpr auto full = Range::full, limited = Range::limited;
    const struct {
        AVPixelFormat format;
        Orientation orientation;
        Range range = limited;
        M matrix = M::bt709;
        S siting = S::left;
        int width = 14, height = 10;
    } cases[] = {{AV_PIX_FMT_YUV420P, O::up}, // passed through
                 {AV_PIX_FMT_YUV420P, O::downMirrored, limited, M::bt2020ncl, S::topLeft},
                 {AV_PIX_FMT_YUVJ420P, O::right, full, M::smpte170m, S::centre},
                 {AV_PIX_FMT_YUV422P10LE, O::left, full, M::bt709, S::topLeft},
                 {AV_PIX_FMT_YUV444P12LE, O::down},
                 {AV_PIX_FMT_YUV410P, O::up, full, M::bt709, S::centre, 16, 12},
                 {AV_PIX_FMT_NV12, O::rightMirrored, limited, M::bt709, S::bottom, 15, 11},
                 {AV_PIX_FMT_P010LE, O::upMirrored, full, M::bt2020ncl, S::unspecified},
                 {AV_PIX_FMT_YUV420P10BE, O::leftMirrored},
                 {AV_PIX_FMT_BGRA, O::right},
                 {AV_PIX_FMT_GBRP10LE, O::leftMirrored},
                 {AV_PIX_FMT_RGB565LE, O::up},
                 {AV_PIX_FMT_GRAY8, O::left, full},
                 {AV_PIX_FMT_GRAY10LE, O::up},
                 {AV_PIX_FMT_PAL8, O::down}};
    const auto scattered = cube(5, false);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << av_get_pix_fmt_name(c.format));
        std::mt19937 random{unsigned(i)};
        auto frame = test::makeFrame(c.format, c.width, c.height, [&](int p, int, int) {
            return int(random() >> (32 - av_pix_fmt_desc_get(c.format)->comp[p].depth));
        });
        if (c.format == AV_PIX_FMT_PAL8)
            for (int e = 0; e < 256; ++e)
                reinterpret_cast<std::uint32_t*>(frame->data[1])[e] =
                    0xff000000u | e << 16 | (255 - e) << 8 | (e * 7 & 255);
        // Our enums carry FFmpeg's code points (proven in frame_test).
        frame->color_range = AVColorRange(c.range);
        frame->colorspace = AVColorSpace(c.matrix);
        frame->chroma_location = AVChromaLocation(c.siting);
        const int width = c.width & ~1, height = c.height & ~1;
        const bool swap = swapsSides(c.orientation);
        Fitter fitter(swap ? height : width, swap ? width : height, c.orientation);
        fitter.fit(
            decoded(test::makeFrame(c.format, c.width, c.height, [](int, int, int) { return 7; })));
        const media::Frame out = graded(fitter.fit(decoded(frame)), scattered);
        const auto expected =
            test::encode(test::turn(decodeFrame(*frame, width, height, c.matrix, c.range, c.siting),
                                    c.orientation),
                         &scattered);
        EXPECT_TRUE(test::matches(expected, out.view(), 0.75));
    }
}

// 8-bit RGB through an identity look keeps each component's own rounding, from
// (0, 0, 254) on; a colour per row pair, so that the chroma filter mixes nothing.
TEST(GradeRoutes, EightBitRgbGradesToTheExactCodes) {
    auto frame = test::makeFrame(AV_PIX_FMT_RGB24, 2, 8192, [](int c, int, int y) {
        return y < 2 ? c / 2 * 254 : int((y / 2 * 2654435761u ^ c * 0x9E3779B9u) >> 24);
    });
    Fitter fitter(2, 8192, Orientation::up);
    const auto identity = cube(2, true);
    const auto expected = test::encode(
        decodeFrame(*frame, 2, 8192, Matrix::bt709, Range::full, ChromaSiting::left), &identity);
    EXPECT_TRUE(
        test::matches(expected, graded(fitter.fit(decoded(frame)), identity).view(), 0.501));
}

} // namespace
} // namespace vantrel::imaging
