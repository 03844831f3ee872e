#include "imaging/grade_kernel.hpp"

#include <cmath>
#include <random>
#include <string>

#include "core/error.hpp"
#include "imaging/grade.hpp"
#include "imaging/grade_reference.hpp"
#include "media/frame_internal.hpp"
#include "media/media_clips.hpp"

namespace vantrel::imaging {
namespace {

using kernel::Kind;
using test::cube;
using test::sampleAt;

// Planar Y′CbCr of that format holding code(p, x, y), and its view described
// by the format rather than by the frame's tags.
std::pair<media::Frame, PictureView> picture(const test::YCbCrFormat& f, int width, int height,
                                             const test::Codes& code) {
    const std::string name = std::string("yuv4") + (f.shiftX ? f.shiftY ? "20" : "22" : "44") +
                             "p" + (f.bitDepth > 8 ? std::to_string(f.bitDepth) + "le" : "");
    media::Frame frame =
        media::wrap(test::makeFrame(av_get_pix_fmt(name.c_str()), width, height, code));
    PictureView view = frame.view();
    view.colour = {Primaries::bt709, Transfer::bt709, f.matrix, f.range, f.siting};
    return {std::move(frame), view};
}

// The codes of w × h, plane after plane, row by row.
std::vector<int> codes(const PictureView& view, int w, int h) {
    std::vector<int> out;
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < (p ? (h + 1) / 2 : h); ++y)
            for (int x = 0; x < (p ? (w + 1) / 2 : w); ++x)
                out.push_back(sampleAt(view, p, x, y));
    return out;
}

class GradeKernel : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (!kernel::kernel(GetParam()))
            GTEST_SKIP() << "this CPU cannot run that kernel";
    }
    // Renders w × h into a frame two samples larger each way, filled with 0xffff
    // so that writes outside the picture show.
    media::Frame render(const PictureView& source, const std::vector<float>& rgb, int w, int h,
                        GradeOptions options, int bands = 1, kernel::GradeRows k = nullptr) {
        media::Frame out = *media::FramePool(w + 2, h + 2).acquire();
        PictureView target = out.view();
        test::fill(target, {0xffff, 0xffff, 0xffff});
        target.width = w;
        target.height = h;
        std::optional<PackedCube> c;
        if (!rgb.empty())
            c.emplace(std::lround(std::cbrt(rgb.size() / 3)), rgb, low, high);
        kernel::renderWith(k ? k : kernel::kernel(GetParam()), c ? &*c : nullptr, options, source,
                           target, bands);
        const auto all = codes(out.view(), w + 2, h + 2);
        EXPECT_EQ(all.size() - std::count(all.begin(), all.end(), 0xffff), w * h * 3 / 2)
            << "written outside the picture";
        return out;
    }
    double low = 0, high = 1; // the cube's input range
};

// Random samples (the sharpest picture there is) of every format, matrix and
// siting, through no cube, a scattered one, an identity and damaged ones, at
// sizes that leave vector tails and chroma planes of odd size, in several bands,
// by both interpolations at several strengths; and through a cube too large for
// the AVX-512 kernel's quads (a slope near 100 lets float rounding move a value
// a few hundredths of a code). The kernel the grade chooses must give the very
// same codes (the large cube aside).
TEST_P(GradeKernel, MatchesTheFormulaForEveryFormat) {
    using Values = std::vector<float>;
    const Values cubes[] = {{},
                            cube(5, false),
                            cube(17, true),
                            Values(24, NAN),
                            Values(24, INFINITY),
                            Values(24, -INFINITY),
                            cube(5, false), // over inputs −1 to 3
                            cube(66, false)};
    const std::array<int, 3> sizes[] = {{34, 6, 3}, {2, 2, 1}, {16, 4, 2}, {22, 8, 2}, {12, 2, 1}};
    for (int trial = 0; trial < 24 * 7 + 4; ++trial) {
        const auto& values = cubes[trial / 24];
        const auto [w, h, bands] = sizes[trial % 5];
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        const test::YCbCrFormat format{
            std::array{8, 10, 12, 16}[trial % 4],
            trial / 4 % 3 < 2,
            trial / 4 % 3 < 1,
            std::array{Range::limited, Range::full, Range::unspecified}[trial / 12 % 3],
            std::array{Matrix::bt709, Matrix::smpte170m, Matrix::bt2020ncl}[trial % 3],
            ChromaSiting(trial % 7)};
        std::mt19937 random(trial);
        const auto [frame, in] = picture(
            format, w, h, [&](int, int, int) { return int(random() >> (32 - format.bitDepth)); });
        std::tie(low, high) = trial / 24 == 6 ? std::pair{-1.0, 3.0} : std::pair{0.0, 1.0};
        const auto rgb = test::decodeYCbCr(
            format, w, h, [&](int p, int x, int y) { return sampleAt(in, p, x, y); });
        for (const Interpolation interpolation :
             {Interpolation::trilinear, Interpolation::tetrahedral}) {
            // Mixed with entries of ±2^16, the source would keep no precision in float.
            const bool damaged = trial / 24 >= 3 && trial / 24 <= 5;
            const GradeOptions options{
                interpolation, damaged ? 1.0 : std::array{1.0, 0.5, 1.0, 0.2}[trial / 3 % 4]};
            SCOPED_TRACE(testing::Message() << nameOf(interpolation) << ' ' << options.strength);
            const auto out = render(in, values, w, h, options, bands);
            ASSERT_TRUE(test::matches(
                test::encode(rgb, values.empty() ? nullptr : &values, options, {low, high}),
                out.view(), trial < 24 * 7 ? 0.502 : 0.55));
            const auto byDefault = render(in, values, w, h, options, 1, kernel::chosenKernel());
            if (trial < 24 * 6) { // the ranged and large cubes' float rounding may differ by kernel
                ASSERT_EQ(codes(byDefault.view(), w, h), codes(out.view(), w, h));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, GradeKernel,
                         testing::Values(Kind::scalar, Kind::avx2, Kind::avx512),
                         [](const auto& info) { return std::string(kernel::nameOf(info.param)); });

// VANTREL_KERNEL's names, the CPU check, and what the grade refuses.
TEST(Grade, ChoosesKernelsByNameAndRefusesWhatCannotRun) {
    for (const Kind kind : {Kind::scalar, Kind::avx2, Kind::avx512}) {
        const std::string name(kernel::nameOf(kind));
        if (kernel::kernel(kind))
            EXPECT_EQ(kernel::kernelNamed(name.c_str()), kernel::kernel(kind)) << name;
        else
            EXPECT_THROW(kernel::kernelNamed(name.c_str()), Error) << name;
    }
    EXPECT_EQ(kernel::kernelNamed(nullptr), kernel::kernelNamed(""));
    EXPECT_NE(kernel::kernelNamed(nullptr), nullptr);
    EXPECT_THROW(kernel::kernelNamed("sse2"), Error);

    for (const auto& [size, values] : {std::pair{1, 3}, {Grade::maxSize + 1, 0}, {2, 23}})
        EXPECT_THROW(Grade(size, std::vector<float>(values)), Error) << size;
    for (const double strength : {-0.01, 1.01, double(NAN)})
        EXPECT_THROW(Grade(2, cube(2, true), {Interpolation::trilinear, strength}), Error);
    const Grade grade(2, cube(2, true));
    const auto [frame, source] = picture({8}, 4, 4, [](int, int, int) { return 128; });
    const media::Frame target = *media::FramePool(4, 4).acquire();
    EXPECT_NO_THROW(grade.render(source, target.view()));
    PictureView wider = target.view(), odd = target.view();
    wider.width = 6;
    odd.width = 3;
    for (const PictureView& to : {wider, odd, source}) // source: not 10-bit
        EXPECT_THROW(grade.render(source, to), Error) << to.width;
}

} // namespace
} // namespace vantrel::imaging
