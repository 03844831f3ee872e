#include "imaging/grade_kernel.hpp"

#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "imaging/grade.hpp"
#include "imaging/grade_reference.hpp"

namespace vantrel::imaging {
namespace {

using kernel::Kind;

struct PictureFormat {
    int bitDepth = 8;
    int shiftX = 1;
    int shiftY = 1;
    Range range = Range::limited;
    Matrix matrix = Matrix::bt709;
};

// Planes with 5 spare samples a row and a spare row; every sample holds flat[p]
// (by default 0xffff, so that writes outside the picture show) or a random code.
struct TestPicture {
    TestPicture(int width, int height, PictureFormat format,
                std::optional<std::array<int, 3>> flat = std::array{0xffff, 0xffff, 0xffff},
                unsigned seed = 0)
        : f(format), stride((width + 5) * bytes()), view{width,    height, f.bitDepth, f.shiftX,
                                                         f.shiftY, {},     {}} {
        view.colour.range = f.range;
        view.colour.matrix = f.matrix;
        std::mt19937 random(seed);
        for (int p = 0; p < 3; ++p) {
            planes[p].resize(stride * (height + 1));
            view.planes[p] = {planes[p].data(), stride};
            for (std::size_t i = 0; i < planes[p].size(); i += bytes()) {
                const int v = flat ? (*flat)[p] : static_cast<int>(random() >> (32 - f.bitDepth));
                std::memcpy(&planes[p][i], &v, bytes());
            }
        }
    }
    int bytes() const { return f.bitDepth > 8 ? 2 : 1; }
    int at(int p, int x, int y) const {
        int value = 0;
        std::memcpy(&value, &planes[p][y * stride + x * bytes()], bytes());
        return value;
    }
    // 16-bit samples that no longer hold 0xffff.
    int changed() const {
        int count = 0;
        for (const auto& plane : planes)
            for (std::size_t i = 0; i < plane.size(); i += 2)
                count += (plane[i] & plane[i + 1]) != 0xff;
        return count;
    }

    PictureFormat f;
    std::ptrdiff_t stride; // bytes
    std::vector<std::uint8_t> planes[3];
    PictureView view;
};

// n³ RGB entries, red fastest: the identity, or scattered values in [-0.2, 1.2].
std::vector<float> cube(int n, bool identity) {
    std::vector<float> rgb(3 * n * n * n);
    for (int i = 0; i < 3 * n * n * n; ++i)
        rgb[i] = identity ? i / 3 / std::array{1, n, n * n}[i % 3] % n / (n - 1.0f)
                          : 0.5f + 0.7f * std::sin(i * 12.9898f);
    return rgb;
}

class GradeKernel : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (!kernel::kernel(GetParam()))
            GTEST_SKIP() << "this CPU cannot run that kernel";
    }
    // Renders w × h into a larger buffer and checks nothing beyond it was written.
    TestPicture render(const PictureView& source, const std::vector<float>& rgb, int w, int h,
                       int bands = 1, kernel::GradeRows k = nullptr) {
        TestPicture out(w + 2, h + 2, {10, 1, 1, Range::full});
        PictureView target = out.view;
        target.width = w;
        target.height = h;
        const std::optional<Cube> c =
            rgb.empty() ? std::nullopt
                        : std::optional<Cube>(std::in_place, std::cbrt(rgb.size() / 3) + 0.5, rgb);
        kernel::renderWith(k ? k : kernel::kernel(GetParam()), c ? &*c : nullptr, source, target,
                           bands);
        EXPECT_EQ(out.changed(), w * h * 3 / 2) << "written outside the picture";
        return out;
    }
};

TEST_P(GradeKernel, FlatColoursGiveKnownCodes) {
    const struct {
        PictureFormat format;
        std::array<int, 3> in, out;
    } cases[] = {
        {{10, 1, 1, Range::full}, {64, 512, 512}, {64, 512, 512}},
        {{10, 1, 1, Range::full}, {940, 300, 700}, {940, 300, 700}},
        {{10, 1, 1, Range::unspecified}, {283, 624, 400}, {256, 640, 384}},
        {{8}, {235, 128, 128}, {1023, 512, 512}},
        {{12, 1, 0}, {1132, 2048, 2048}, {256, 512, 512}},
    };
    for (const auto& c : cases) {
        TestPicture in(10, 4, c.format, c.in);
        const auto out = render(in.view, {}, 10, 4);
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ((std::array{out.at(0, i % 10, i / 10), out.at(1, i % 5, i / 20),
                                  out.at(2, i % 5, i / 20)}),
                      c.out)
                << c.format.bitDepth << "-bit " << c.in[0];
    }
}

// Random samples (the sharpest picture there is) of every format, matrix and
// siting, through no cube, a scattered one, an identity and damaged ones, at
// sizes that leave vector tails and chroma planes of odd size, in several bands.
// The same pictures must also come out of this kernel exactly as out of the one
// Grade::render chooses.
TEST_P(GradeKernel, MatchesTheFormulaForEveryFormat) {
    using Values = std::vector<float>;
    const Values cubes[] = {{},
                            cube(5, false),
                            cube(17, true),
                            Values(24, NAN),
                            Values(24, INFINITY),
                            Values(24, -INFINITY)};
    const std::array<int, 3> sizes[] = {{34, 6, 3}, {2, 2, 1}, {16, 4, 2}, {22, 8, 2}, {12, 2, 1}};
    for (int trial = 0; trial < 24 * 6; ++trial) {
        const auto& values = cubes[trial / 24];
        const auto [w, h, bands] = sizes[trial % 5];
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        const PictureFormat format{
            std::array{8, 10, 12, 16}[trial % 4], trial / 4 % 3 < 2, trial / 4 % 3 < 1,
            std::array{Range::limited, Range::full}[trial / 12 % 2],
            std::array{Matrix::bt709, Matrix::smpte170m, Matrix::bt2020ncl}[trial % 3]};
        TestPicture in(w, h, format, std::nullopt, trial);
        in.view.colour.siting = ChromaSiting(trial % 7);
        const auto out = render(in.view, values, w, h, bands);
        const test::YCbCrFormat reference{format.bitDepth, format.shiftX, format.shiftY,
                                          format.range,    format.matrix, in.view.colour.siting};
        const auto rgb =
            test::decodeYCbCr(reference, w, h, [&](int p, int x, int y) { return in.at(p, x, y); });
        ASSERT_TRUE(
            test::matches(test::encode(rgb, values.empty() ? nullptr : &values), out.view, 0.502));
        const auto byDefault = render(in.view, values, w, h, 1, kernel::chosenKernel());
        for (int p = 0; p < 3; ++p)
            ASSERT_EQ(byDefault.planes[p], out.planes[p]) << "plane " << p;
    }
}

// The sizes real grades use, and one too large for the AVX-512 kernel's quad
// layout (it hands such cubes to the AVX2 lookup). A scattered cube this fine is
// steep enough (slopes near 100) for float rounding to move a value a few
// hundredths of a code, so a tie may round either way.
TEST_P(GradeKernel, MatchesTheFormulaThroughLargeCubes) {
    for (const int n : {33, 66}) {
        SCOPED_TRACE(n);
        const std::vector<float> rgb = cube(n, false);
        for (const int bits : {8, 10}) {
            TestPicture in(40, 6, {bits}, std::nullopt, unsigned(n + bits));
            const auto out = render(in.view, rgb, 40, 6, 2);
            const auto expected = test::decodeYCbCr(
                {bits}, 40, 6, [&](int p, int x, int y) { return in.at(p, x, y); });
            ASSERT_TRUE(test::matches(test::encode(expected, &rgb), out.view, 0.55));
        }
    }
}

// A sharp vertical colour edge in left-sited 4:2:0: the chroma of the pixels
// between two chroma samples is their mean, and the output's chroma taps
// straddle the edge, so the blocks beside it come out between the two colours.
TEST_P(GradeKernel, RebuildsChromaBetweenSamples) {
    TestPicture in(8, 2, {8, 1, 1, Range::full}, std::array{128, 128, 128});
    for (int x = 2; x < 4; ++x) // chroma columns 2 and 3: luma columns 4 to 7
        for (int p = 1; p < 3; ++p)
            std::memset(&in.planes[p][x], 228, 1);
    const auto out = render(in.view, {}, 8, 2);
    // Source Cb of pixel 3 is 178 (the mean of 128 and 228), of pixels 4 to 7 228;
    // the output's block j weighs pixels 2j − 1, 2j, 2j + 1 by ¼ ½ ¼. A grey luma
    // keeps R′G′B′ in range, so output chroma is 512 + 1023·(source Cb − 128)/255.
    const double c3 = 1023 * 50 / 255.0, c4 = 1023 * 100 / 255.0;
    const double expected[] = {512, 512 + c3 / 4, 512 + c3 / 4 + c4 * 3 / 4, 512 + c4};
    for (int block = 0; block < 4; ++block)
        for (int p = 1; p < 3; ++p)
            EXPECT_NEAR(out.at(p, block, 0), expected[block], 0.502) << block;
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

    EXPECT_THROW(Grade(1, std::vector<float>(3)), Error);
    EXPECT_THROW(Grade(Grade::maxSize + 1, {}), Error);
    EXPECT_THROW(Grade(2, std::vector<float>(23)), Error);
    const Grade grade(2, cube(2, true));
    TestPicture source(4, 4, {8}), target(4, 4, {10, 1, 1, Range::full});
    target.view.width = 6;
    EXPECT_THROW(grade.render(source.view, target.view), Error) << "source too small";
    target.view.width = 3;
    EXPECT_THROW(grade.render(source.view, target.view), Error) << "odd side";
    target.view.width = 4;
    EXPECT_NO_THROW(grade.render(source.view, target.view));
    EXPECT_THROW(grade.render(source.view, source.view), Error) << "not 10-bit";
}

} // namespace
} // namespace vantrel::imaging
