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

namespace vantrel::imaging {
namespace {

using kernel::Kind;
using media::ColourRange;
using Rgb = std::array<double, 3>;

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

// R′G′B′ of a source pixel by the textbook equations, chroma replicated.
Rgb decode(const TestPicture& in, int x, int y) {
    const PictureFormat& f = in.f;
    const auto [kr, kb] = std::array<std::pair<double, double>, 3>{
        {{0.2126, 0.0722}, {0.299, 0.114}, {0.2627, 0.0593}}}[static_cast<int>(f.matrix)];
    const double unit = std::ldexp(1.0, f.bitDepth - 8), top = std::ldexp(1.0, f.bitDepth) - 1;
    const bool limited = f.range == ColourRange::limited;
    const double luma = (in.at(0, x, y) - (limited ? 16 * unit : 0)) / (limited ? 219 * unit : top);
    const auto chroma = [&](int p) {
        return (in.at(p, x >> f.shiftX, y >> f.shiftY) - 128 * unit) / (limited ? 224 * unit : top);
    };
    const double r = luma + 2 * (1 - kr) * chroma(2), b = luma + 2 * (1 - kb) * chroma(1);
    return {r, (luma - kr * r - kb * b) / (1 - kr - kb), b};
}

// Trilinear interpolation of an n³ cube at a colour limited to [0, 1]. Entries
// read as documented: NaN as 0, magnitudes beyond 2^16 as ±2^16.
Rgb lookup(const std::vector<float>& cube, Rgb c) {
    const int n = static_cast<int>(std::lround(std::cbrt(cube.size() / 4)));
    Rgb out{};
    for (int corner = 0; corner < 8; ++corner) {
        double weight = 1;
        std::size_t at = 0;
        for (int k = 2; k >= 0; --k) {
            const double x = std::clamp(c[k], 0.0, 1.0) * (n - 1);
            const int cell = std::min(static_cast<int>(x), n - 2) + (corner >> k & 1);
            weight *= 1 - std::abs(x - cell);
            at = at * n + cell;
        }
        for (int k = 0; k < 3; ++k) {
            const double entry = std::isnan(cube[4 * at + k]) ? 0 : cube[4 * at + k];
            out[k] += weight * std::clamp(entry, -65536.0, 65536.0);
        }
    }
    return out;
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

// Random samples of every format, through no cube, a scattered one, an identity and
// damaged ones, at sizes that leave vector tails, in several bands.
TEST_P(GradeKernel, MatchesTheFormulaForEveryFormat) {
    using Cube = std::vector<float>;
    const Cube cubes[] = {
        {}, cube(5, false), cube(17, true), Cube(32, NAN), Cube(32, INFINITY), Cube(32, -INFINITY)};
    const std::array<int, 3> sizes[] = {{34, 6, 3}, {2, 2, 1}, {16, 4, 2}, {22, 8, 2}, {12, 2, 1}};
    for (int trial = 0; trial < 24 * 6; ++trial) {
        const auto& cube = cubes[trial / 24];
        const auto [w, h, bands] = sizes[trial % 5];
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        TestPicture in(w, h,
                       {std::array{8, 10, 12, 16}[trial % 4], trial / 4 % 3 < 2, trial / 4 % 3 < 1,
                        ColourRange(trial / 12 % 2), media::YCbCrMatrix(trial % 3)},
                       std::nullopt, trial);
        const auto out =
            render(cube.empty() ? Image::fromPicture(in.view) : graded(in.view, cube), w, h, bands);
        const auto code = [](double v) { return std::clamp(v, 0.0, 1023.0); };
        for (int by = 0; by < h / 2; ++by)
            for (int bx = 0; bx < w / 2; ++bx) {
                double cb = 0, cr = 0;
                for (int i = 0; i < 4; ++i) {
                    const int x = 2 * bx + i % 2, y = 2 * by + i / 2;
                    const Rgb c = cube.empty() ? decode(in, x, y) : lookup(cube, decode(in, x, y));
                    const double luma = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
                    ASSERT_NEAR(out.at(0, x, y), code(1023 * luma), 0.502) << x << "," << y;
                    cb += 1023 * (c[2] - luma) / 1.8556 / 4;
                    cr += 1023 * (c[0] - luma) / 1.5748 / 4;
                }
                ASSERT_NEAR(out.at(1, bx, by), code(512 + cb), 0.502) << bx << "," << by;
                ASSERT_NEAR(out.at(2, bx, by), code(512 + cr), 0.502) << bx << "," << by;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, GradeKernel, testing::Values(Kind::scalar, Kind::avx2),
                         [](auto& i) { return i.param == Kind::scalar ? "scalar" : "avx2"; });

} // namespace
} // namespace vantrel::imaging
