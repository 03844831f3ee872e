// Whole routes from a decoded frame to output codes: the fitter (pass-through,
// rebuilt, turned, scaled, RGB) and the kernels together, against the
// independent double-precision formula.

#include <cmath>
#include <random>

#include "imaging/colour_cube.hpp"
#include "imaging/grade_kernel.hpp"
#include "imaging/grade_reference.hpp"
#include "media/media_clips.hpp"
#include "media/picture_fitter.hpp"

namespace vantrel::imaging {
namespace {

using media::ChromaSiting;
using media::Orientation;
using media::PictureFitter;
using test::RgbPicture;

// The decoder's picture object for a test frame (a new reference to the same
// samples), so that pass-through routes read the frame's own memory.
media::DecodedPicture decoded(const media::FramePtr& frame) {
    return media::DecodedPicture(media::FramePtr(av_frame_clone(frame.get())));
}

// A 10-bit 4:2:0 target of that size.
struct Target {
    Target(int width, int height) : buffer(*pool(width, height).createPixelBuffer()) {}
    static media::PixelBufferPool& pool(int width, int height) {
        static std::optional<media::PixelBufferPool> p;
        if (!p || p->width() != width || p->height() != height)
            p.emplace(width, height);
        return *p;
    }
    media::PictureView view() const { return buffer.view(); }
    media::PixelBuffer buffer;
};

std::vector<float> scatteredCube(int n) {
    std::vector<float> rgba(4 * n * n * n);
    for (int i = 0; i < int(rgba.size()); ++i)
        rgba[i] = 0.5f + 0.7f * std::sin(i * 12.9898f);
    return rgba;
}

// Grades the fitted picture with every kernel this CPU runs; returns one target
// per kernel.
std::vector<Target> gradeEveryKernel(const media::PictureView& fitted,
                                     const std::vector<float>* cube) {
    std::vector<Target> out;
    auto filter = Filter::named(Filter::colourCube);
    std::optional<Image> image = Image::fromPicture(fitted);
    if (cube) {
        filter->setCubeDimension(std::lround(std::cbrt(cube->size() / 4)));
        filter->setCubeData(std::as_bytes(std::span(*cube)));
        filter->setInputImage(*image);
        image = filter->outputImage();
    }
    for (const auto kind : {kernel::Kind::scalar, kernel::Kind::avx2, kernel::Kind::avx512})
        if (const auto k = kernel::kernel(kind)) {
            out.emplace_back(fitted.width, fitted.height);
            kernel::renderWith(k, *image, out.back().view(), {0, 0, fitted.width, fitted.height},
                               2);
        }
    return out;
}

// R′G′B′ of a frame by the definition of its layout, over width × height.
RgbPicture decodeFrame(const AVFrame& frame, int width, int height, media::YCbCrMatrix matrix,
                       media::ColourRange range, ChromaSiting siting) {
    const auto* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    std::vector<std::uint16_t> line(frame.width);
    const auto code = [&](int c, int x, int y) {
        av_read_image_line2(line.data(), const_cast<const std::uint8_t**>(frame.data),
                            frame.linesize, desc, x, y, c, 1, 0, 2);
        return int(line[0]);
    };
    if (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL) || desc->nb_components < 3) {
        RgbPicture out{width, height, std::vector<test::Rgb>(std::size_t(width) * height)};
        const auto* palette = reinterpret_cast<const std::uint32_t*>(frame.data[1]);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    if (desc->flags & AV_PIX_FMT_FLAG_PAL)
                        out.at(x, y)[c] = (palette[code(0, x, y)] >> (16 - 8 * c) & 255) / 255.0;
                    else if (desc->nb_components < 3 && range == media::ColourRange::limited) {
                        const double unit = std::ldexp(1.0, desc->comp[0].depth - 8);
                        out.at(x, y)[c] = (code(0, x, y) - 16 * unit) / (219 * unit);
                    } else {
                        const int from = desc->nb_components < 3 ? 0 : c;
                        out.at(x, y)[c] =
                            code(from, x, y) / (std::ldexp(1.0, desc->comp[from].depth) - 1);
                    }
                }
        return out;
    }
    const test::YCbCrFormat format{
        desc->comp[0].depth, desc->log2_chroma_w, desc->log2_chroma_h, range, matrix, siting};
    return test::decodeYCbCr(format, width, height, code);
}

AVChromaLocation locationOf(ChromaSiting siting) {
    return std::array{
        AVCHROMA_LOC_LEFT, AVCHROMA_LOC_CENTER,     AVCHROMA_LOC_TOPLEFT,
        AVCHROMA_LOC_TOP,  AVCHROMA_LOC_BOTTOMLEFT, AVCHROMA_LOC_BOTTOM}[static_cast<int>(siting)];
}

// Random codes in every layout we rebuild or pass through, each way it can be
// turned: every output code within one code of the formula, on every kernel.
// A scattered cube magnifies any error in the values handed to it.
TEST(GradeRoutes, EveryLayoutAndTurnMatchesTheFormula) {
    using M = media::YCbCrMatrix;
    using O = Orientation;
    constexpr auto full = media::ColourRange::full, limited = media::ColourRange::limited;
    const struct {
        AVPixelFormat format;
        Orientation orientation;
        media::ColourRange range = limited;
        M matrix = M::bt709;
        ChromaSiting siting = ChromaSiting::left;
        int width = 14, height = 10;
    } cases[] = {
        {AV_PIX_FMT_YUV420P, O::up},
        {AV_PIX_FMT_YUV420P, O::upMirrored},
        {AV_PIX_FMT_YUV420P, O::down, full, M::bt601},
        {AV_PIX_FMT_YUV420P, O::downMirrored, limited, M::bt2020, ChromaSiting::topLeft},
        {AV_PIX_FMT_YUV420P, O::left, limited, M::bt709, ChromaSiting::centre},
        {AV_PIX_FMT_YUV420P, O::leftMirrored},
        {AV_PIX_FMT_YUV420P, O::right, full},
        {AV_PIX_FMT_YUV420P, O::rightMirrored, limited, M::bt709, ChromaSiting::bottom},
        {AV_PIX_FMT_YUVJ420P, O::right, full, M::bt601, ChromaSiting::centre},
        {AV_PIX_FMT_YUV422P10LE, O::left, full, M::bt709, ChromaSiting::topLeft},
        {AV_PIX_FMT_YUV444P12LE, O::down},
        {AV_PIX_FMT_YUV410P, O::up, full, M::bt709, ChromaSiting::centre, 16, 12},
        // Layouts read through the generic path; the odd extra line is cropped.
        {AV_PIX_FMT_NV12, O::up, limited, M::bt709, ChromaSiting::left, 15, 11},
        {AV_PIX_FMT_P010LE, O::upMirrored, full, M::bt2020, ChromaSiting::topLeft},
        {AV_PIX_FMT_YUYV422, O::right},
        {AV_PIX_FMT_YUVA420P, O::up, full},
        {AV_PIX_FMT_YUV420P10BE, O::left},
        // RGB and grey become BT.709; grey is full range unless tagged limited.
        {AV_PIX_FMT_RGB24, O::up},
        {AV_PIX_FMT_BGRA, O::right},
        {AV_PIX_FMT_RGB48LE, O::down},
        {AV_PIX_FMT_GBRP10LE, O::leftMirrored},
        {AV_PIX_FMT_RGB565LE, O::up},
        {AV_PIX_FMT_GRAY8, O::left, full},
        {AV_PIX_FMT_GRAY10LE, O::up},
        {AV_PIX_FMT_PAL8, O::down},
    };
    const auto cube = scatteredCube(5);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << av_get_pix_fmt_name(c.format));
        std::mt19937 random{unsigned(i)};
        auto frame = test::makeFrame(c.format, c.width, c.height, [&](int p, int, int) {
            const auto* desc = av_pix_fmt_desc_get(c.format);
            return int(random() >> (32 - desc->comp[p].depth));
        });
        if (c.format == AV_PIX_FMT_PAL8)
            for (int e = 0; e < 256; ++e)
                reinterpret_cast<std::uint32_t*>(frame->data[1])[e] =
                    0xff000000u | e << 16 | (255 - e) << 8 | (e * 7 & 255);
        frame->color_range = c.range == full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        frame->colorspace = std::array{AVCOL_SPC_BT709, AVCOL_SPC_BT470BG,
                                       AVCOL_SPC_BT2020_NCL}[static_cast<int>(c.matrix)];
        frame->chroma_location = locationOf(c.siting);
        const int width = c.width & ~1, height = c.height & ~1;
        const bool swap = media::swapsSides(c.orientation);
        PictureFitter fitter(swap ? height : width, swap ? width : height, c.orientation);
        const auto graded = gradeEveryKernel(fitter.fit(decoded(frame)), &cube);
        const auto expected =
            test::encode(test::turn(decodeFrame(*frame, width, height, c.matrix, c.range, c.siting),
                                    c.orientation),
                         &cube);
        for (const Target& out : graded)
            EXPECT_TRUE(test::matches(expected, out.view(), 0.75));
    }
}

// White and mid-grey of every kind of source, upright, turned, scaled and both:
// full white is code 1023 and grey 514 (128/255 of 1023, and its equivalents),
// chroma 512, on every pixel.
TEST(GradeRoutes, WhiteAndGreyKeepTheirCodesOnEveryRoute) {
    const struct {
        AVPixelFormat format;
        AVColorRange range;
        int white, grey, greyCode;
    } sources[] = {
        {AV_PIX_FMT_RGB24, AVCOL_RANGE_UNSPECIFIED, 255, 128, 514},
        {AV_PIX_FMT_RGB48LE, AVCOL_RANGE_UNSPECIFIED, 65535, 128 * 257, 514},
        {AV_PIX_FMT_GBRP10LE, AVCOL_RANGE_UNSPECIFIED, 1023, 512, 512},
        {AV_PIX_FMT_YUVJ420P, AVCOL_RANGE_UNSPECIFIED, 255, 128, 514},
        {AV_PIX_FMT_YUV422P, AVCOL_RANGE_JPEG, 255, 128, 514},
        {AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, 235, 126, 514},
        {AV_PIX_FMT_YUV420P10LE, AVCOL_RANGE_JPEG, 1023, 512, 512},
        {AV_PIX_FMT_YUV420P10LE, AVCOL_RANGE_MPEG, 940, 504, 514},
    };
    const struct {
        Orientation orientation;
        int sourceWidth, sourceHeight;
    } routes[] = {{Orientation::up, 16, 8},
                  {Orientation::right, 8, 16},
                  {Orientation::up, 32, 16},
                  {Orientation::left, 16, 32}};
    for (const auto& s : sources)
        for (const auto& r : routes)
            for (const bool white : {true, false}) {
                SCOPED_TRACE(testing::Message()
                             << av_get_pix_fmt_name(s.format) << " range " << s.range << " turned "
                             << int(r.orientation) << " from " << r.sourceWidth
                             << (white ? " white" : " grey"));
                const auto* desc = av_pix_fmt_desc_get(s.format);
                const bool rgb = desc->flags & AV_PIX_FMT_FLAG_RGB;
                const int level = white ? s.white : s.grey;
                const int zero = 1 << (desc->comp[1].depth - 1);
                auto frame =
                    test::makeFrame(s.format, r.sourceWidth, r.sourceHeight,
                                    [&](int p, int, int) { return rgb || p == 0 ? level : zero; });
                frame->color_range = s.range;
                PictureFitter fitter(16, 8, r.orientation);
                for (const Target& out : gradeEveryKernel(fitter.fit(decoded(frame)), nullptr)) {
                    const auto view = out.view();
                    for (int y = 0; y < 8; ++y)
                        for (int x = 0; x < 16; ++x)
                            ASSERT_EQ(test::codeAt(view, 0, x, y), white ? 1023 : s.greyCode);
                    for (int p = 1; p < 3; ++p)
                        for (int y = 0; y < 4; ++y)
                            for (int x = 0; x < 8; ++x)
                                ASSERT_EQ(test::codeAt(view, p, x, y), 512);
                }
            }
}

// A picture with soft colour shapes and one hard edge, as 4:2:0 codes.
test::Codes softPicture(int width, int height) {
    return [=](int p, int x, int y) {
        const double s = p ? 2.0 : 1.0; // chroma samples are twice as far apart
        const double u = s * x / width, v = s * y / height;
        const double wave = std::sin(6 * u + 2 * p) * std::cos(5 * v - p);
        const double edge = u > 0.55 + 0.1 * v ? 1.0 : 0.0;
        return int(std::lround((p ? 128 : 120) + 70 * wave + (p == 2 ? -40 : 40) * edge));
    };
}

// Scaled routes cannot match the formula pixel for pixel (the scaler's filter is
// its own), but against the formula evaluated at full size and averaged down
// they stay close; a lost chroma siting or a scale error costs far more.
TEST(GradeRoutes, ScaledRoutesStayCloseToTheFormula) {
    const auto codes = softPicture(64, 48);
    auto frame = test::makeFrame(AV_PIX_FMT_YUV420P, 64, 48, codes);
    frame->colorspace = AVCOL_SPC_BT709;
    frame->chroma_location = AVCHROMA_LOC_CENTER;
    const RgbPicture source = test::decodeYCbCr(
        {8, 1, 1, media::ColourRange::limited, media::YCbCrMatrix::bt709, ChromaSiting::centre}, 64,
        48, codes);
    RgbPicture half{32, 24, std::vector<test::Rgb>(32 * 24)};
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x)
            for (int c = 0; c < 3; ++c)
                half.at(x, y)[c] =
                    (source.at(2 * x, 2 * y)[c] + source.at(2 * x + 1, 2 * y)[c] +
                     source.at(2 * x, 2 * y + 1)[c] + source.at(2 * x + 1, 2 * y + 1)[c]) /
                    4;
    const auto cube = scatteredCube(3);
    for (const Orientation o : {Orientation::up, Orientation::right}) {
        SCOPED_TRACE(int(o));
        const bool swap = media::swapsSides(o);
        PictureFitter fitter(swap ? 24 : 32, swap ? 32 : 24, o);
        const auto expected = test::encode(test::turn(half, o), &cube);
        for (const Target& out : gradeEveryKernel(fitter.fit(decoded(frame)), &cube)) {
            const auto db = test::psnr(expected, out.view());
            EXPECT_GT(db[0], 42); // 45 dB here
            EXPECT_GT(db[1], 55); // 62 dB
            EXPECT_GT(db[2], 55); // 64 dB
        }
    }
}

// Turned half a turn (or transposed) and turned back, a picture grades as it
// does upright: luma to the code; chroma up to the output's own left siting,
// which turning moves by a pixel (on a hard colour edge that alone is worth
// tens of codes).
TEST(GradeRoutes, TurnedAndTurnedBackGradesLikeUpright) {
    const auto codes = softPicture(48, 32);
    auto frame = test::makeFrame(AV_PIX_FMT_YUV420P, 48, 32, codes);
    PictureFitter upright(48, 32, Orientation::up);
    const Target reference =
        std::move(gradeEveryKernel(upright.fit(decoded(frame)), nullptr).back());
    for (const Orientation o : {Orientation::down, Orientation::leftMirrored}) {
        SCOPED_TRACE(int(o));
        const bool swap = media::swapsSides(o);
        PictureFitter fitter(swap ? 32 : 48, swap ? 48 : 32, o);
        const Target turned =
            std::move(gradeEveryKernel(fitter.fit(decoded(frame)), nullptr).back());
        // Pixel (x, y) of the upright picture sits here in the turned one.
        const auto place = [&](int x, int y, int w, int h) {
            return o == Orientation::down ? std::pair{w - 1 - x, h - 1 - y} : std::pair{y, x};
        };
        double chromaError = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 48; ++x) {
                const auto [tx, ty] = place(x, y, 48, 32);
                ASSERT_NEAR(test::codeAt(turned.view(), 0, tx, ty),
                            test::codeAt(reference.view(), 0, x, y), 1);
                if (x % 2 == 0 && y % 2 == 0)
                    for (int p = 1; p < 3; ++p) {
                        const auto [cx, cy] = place(x / 2, y / 2, 24, 16);
                        const int d = test::codeAt(turned.view(), p, cx, cy) -
                                      test::codeAt(reference.view(), p, x / 2, y / 2);
                        chromaError += d * d;
                    }
            }
        const double db = 10 * std::log10(1023.0 * 1023 / (chromaError / (2 * 24 * 16)));
        EXPECT_GT(db, 30); // 33 and 37 dB here, all of it on the hard edge
    }
}

} // namespace
} // namespace vantrel::imaging
