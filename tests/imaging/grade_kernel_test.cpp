#include "imaging/grade_kernel.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/grade_reference.hpp"

namespace vantrel::imaging {
namespace {

using kernel::Kind;
using media::ColourRange;

struct PictureFormat {
    int bitDepth = 8;
    int shiftX = 1;
    int shiftY = 1;
    ColourRange range = ColourRange::limited;
    media::YCbCrMatrix matrix = media::YCbCrMatrix::bt709;
};

// Planes with 5 spare samples a row and a spare row; every sample holds flat[p]
// (by default 0xffff, so that writes outside the picture show) or a random code.
struct TestPicture {
    TestPicture(int width, int height, PictureFormat format,
                std::optional<std::array<int, 3>> flat = std::array{0xffff, 0xffff, 0xffff},
                unsigned seed = 0)
        : f(format), stride((width + 5) * bytes()), view{width,    height, f.bitDepth, f.shiftX,
                                                         f.shiftY, {},     f.matrix,   f.range} {
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
    media::PictureView view;
};

// n³ RGBA entries, red fastest: the identity, or scattered values in [-0.2, 1.2].
std::vector<float> cube(int n, bool identity) {
    std::vector<float> rgba(4 * n * n * n);
    for (int i = 0; i < 4 * n * n * n; ++i)
        rgba[i] = identity ? i / 4 / std::array{1, n, n * n, 1}[i % 4] % n / (n - 1.0f)
                           : 0.5f + 0.7f * std::sin(i * 12.9898f);
    return rgba;
}

Image graded(const media::PictureView& picture, const std::vector<float>& rgba) {
    auto filter = Filter::named(Filter::colourCube);
    filter->setCubeDimension(std::lround(std::cbrt(rgba.size() / 4)));
    filter->setCubeData(std::as_bytes(std::span(rgba)));
    filter->setInputImage(Image::fromPicture(picture));
    return filter->outputImage().value();
}

class GradeKernel : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (!kernel::kernel(GetParam()))
            GTEST_SKIP() << "this CPU cannot run that kernel";
    }
    // Renders into a larger target and checks nothing beyond the bounds was written.
    TestPicture render(const Image& image, int w, int h, int bands = 1) {
        TestPicture out(w + 2, h + 2, {10, 1, 1, ColourRange::full});
        kernel::renderWith(kernel::kernel(GetParam()), image, out.view, {0, 0, w, h}, bands);
        EXPECT_EQ(out.changed(), w * h * 3 / 2) << "written outside the bounds";
        return out;
    }
};

TEST_P(GradeKernel, FlatColoursGiveKnownCodes) {
    const struct {
        PictureFormat format;
        std::array<int, 3> in, out;
    } cases[] = {
        {{10, 1, 1, ColourRange::full}, {64, 512, 512}, {64, 512, 512}},
        {{10, 1, 1, ColourRange::full}, {940, 300, 700}, {940, 300, 700}},
        {{10}, {283, 624, 400}, {256, 640, 384}},
        {{8}, {235, 128, 128}, {1023, 512, 512}},
        {{12, 1, 0}, {1132, 2048, 2048}, {256, 512, 512}},
    };
    for (const auto& c : cases) {
        TestPicture in(10, 4, c.format, c.in);
        const auto out = render(Image::fromPicture(in.view), 10, 4);
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ((std::array{out.at(0, i % 10, i / 10), out.at(1, i % 5, i / 20),
                                  out.at(2, i % 5, i / 20)}),
                      c.out)
                << c.format.bitDepth << "-bit " << c.in[0];
    }
}

// Random samples (the sharpest picture there is) of every format and siting,
// through no cube, a scattered one, an identity and damaged ones, at sizes that
// leave vector tails and chroma planes of odd size, in several bands.
TEST_P(GradeKernel, MatchesTheFormulaForEveryFormat) {
    using Cube = std::vector<float>;
    const Cube cubes[] = {
        {}, cube(5, false), cube(17, true), Cube(32, NAN), Cube(32, INFINITY), Cube(32, -INFINITY)};
    const std::array<int, 3> sizes[] = {{34, 6, 3}, {2, 2, 1}, {16, 4, 2}, {22, 8, 2}, {12, 2, 1}};
    for (int trial = 0; trial < 24 * 6; ++trial) {
        const auto& cube = cubes[trial / 24];
        const auto [w, h, bands] = sizes[trial % 5];
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        const PictureFormat format{std::array{8, 10, 12, 16}[trial % 4], trial / 4 % 3 < 2,
                                   trial / 4 % 3 < 1, ColourRange(trial / 12 % 2),
                                   media::YCbCrMatrix(trial % 3)};
        TestPicture in(w, h, format, std::nullopt, trial);
        in.view.siting = media::ChromaSiting(trial % 6);
        const auto out =
            render(cube.empty() ? Image::fromPicture(in.view) : graded(in.view, cube), w, h, bands);
        const test::YCbCrFormat reference{format.bitDepth, format.shiftX, format.shiftY,
                                          format.range,    format.matrix, in.view.siting};
        const auto rgb =
            test::decodeYCbCr(reference, w, h, [&](int p, int x, int y) { return in.at(p, x, y); });
        ASSERT_TRUE(
            test::matches(test::encode(rgb, cube.empty() ? nullptr : &cube), out.view, 0.502));
    }
}

// The sizes real grades use, and one too large for the AVX-512 kernel's quad
// layout (it hands such cubes to the AVX2 lookup). A scattered cube this fine is
// steep enough (slopes near 100) for float rounding to move a value a few
// hundredths of a code, so a tie may round either way.
TEST_P(GradeKernel, MatchesTheFormulaThroughLargeCubes) {
    for (const int n : {33, 66}) {
        SCOPED_TRACE(n);
        const std::vector<float> rgba = cube(n, false);
        for (const int bits : {8, 10}) {
            TestPicture in(40, 6, {bits}, std::nullopt, unsigned(n + bits));
            const auto out = render(graded(in.view, rgba), 40, 6, 2);
            const auto rgb = test::decodeYCbCr({bits}, 40, 6,
                                               [&](int p, int x, int y) { return in.at(p, x, y); });
            ASSERT_TRUE(test::matches(test::encode(rgb, &rgba), out.view, 0.55));
        }
    }
}

// A sharp vertical colour edge in left-sited 4:2:0: the chroma of the pixels
// between two chroma samples is their mean, and the output's chroma taps
// straddle the edge, so the blocks beside it come out between the two colours.
TEST_P(GradeKernel, RebuildsChromaBetweenSamples) {
    TestPicture in(8, 2, {8, 1, 1, ColourRange::full}, std::array{128, 128, 128});
    for (int x = 2; x < 4; ++x) // chroma columns 2 and 3: luma columns 4 to 7
        for (int p = 1; p < 3; ++p)
            std::memset(&in.planes[p][x], 228, 1);
    const auto out = render(Image::fromPicture(in.view), 8, 2);
    // Source Cb of pixel 3 is 178 (the mean of 128 and 228), of pixels 4 to 7 228;
    // the output's block j weighs pixels 2j − 1, 2j, 2j + 1 by ¼ ½ ¼. A grey luma
    // keeps R′G′B′ in range, so output chroma is 512 + 1023·(source Cb − 128)/255.
    const double c3 = 1023 * 50 / 255.0, c4 = 1023 * 100 / 255.0;
    const double expected[] = {512, 512 + c3 / 4, 512 + c3 / 4 + c4 * 3 / 4, 512 + c4};
    for (int block = 0; block < 4; ++block)
        for (int p = 1; p < 3; ++p)
            EXPECT_NEAR(out.at(p, block, 0), expected[block], 0.502) << block;
}

std::string kernelName(const testing::TestParamInfo<Kind>& info) {
    switch (info.param) {
    case Kind::scalar:
        return "scalar";
    case Kind::avx2:
        return "avx2";
    case Kind::avx512:
        return "avx512";
    }
    return "unknown";
}

INSTANTIATE_TEST_SUITE_P(Kernels, GradeKernel,
                         testing::Values(Kind::scalar, Kind::avx2, Kind::avx512), kernelName);

} // namespace
} // namespace vantrel::imaging
