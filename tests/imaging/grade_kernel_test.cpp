#include "imaging/grade_kernel.hpp"

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "test_pictures.hpp"

namespace vantrel::imaging {
namespace {

using kernel::Kind;
using media::ColourRange;
using media::YCbCrMatrix;
using test::PictureFormat;
using test::Rgb;
using test::TestPicture;

constexpr double roundingSlack = 0.5 + 1e-3; // within rounding of the exact value
constexpr double quantisedSlack = 0.55;      // the same, plus 16-bit source quantisation
constexpr PictureFormat full10{10, 1, 1, ColourRange::full};
constexpr PictureFormat limited8{8, 1, 1, ColourRange::limited};

void setBlock(TestPicture& p, const PictureFormat& f, int bx, int by, std::array<int, 3> codes) {
    for (int y = 2 * by; y < 2 * by + 2; ++y)
        for (int x = 2 * bx; x < 2 * bx + 2; ++x) {
            p.set(0, x, y, codes[0]);
            p.set(1, x >> f.shiftX, y >> f.shiftY, codes[1]);
            p.set(2, x >> f.shiftX, y >> f.shiftY, codes[2]);
        }
}

void expectBlockNear(const TestPicture& out, int bx, int by, std::array<double, 3> expected,
                     double slack) {
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(out.at(0, 2 * bx + i % 2, 2 * by + i / 2), expected[0], slack)
            << "luma of block " << bx << "," << by;
    EXPECT_NEAR(out.at(1, bx, by), expected[1], slack) << "Cb of block " << bx << "," << by;
    EXPECT_NEAR(out.at(2, bx, by), expected[2], slack) << "Cr of block " << bx << "," << by;
}

std::vector<float> randomEntries(int n, float low, float high, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(low, high);
    std::vector<float> entries(3 * static_cast<std::size_t>(n) * n * n);
    for (float& e : entries)
        e = value(random);
    return entries;
}

std::vector<std::byte> cubeOf(int n, const std::vector<float>& entries) {
    return test::cubeBytes(n, [&](Rgb c) {
        const auto at = [&](double v) {
            return static_cast<std::size_t>(std::lround(v * (n - 1)));
        };
        const std::size_t i = 3 * (at(c.r) + n * (at(c.g) + n * at(c.b)));
        return Rgb{entries[i], entries[i + 1], entries[i + 2]};
    });
}

class GradeKernel : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        kernel_ = kernel::kernel(GetParam());
        if (!kernel_)
            GTEST_SKIP() << "this CPU cannot run that kernel";
    }

    // Renders into a target larger than the bounds and checks nothing beyond them
    // was written.
    TestPicture render(const Image& image, int width, int height, int bands = 1) {
        TestPicture out(width + 2, height + 2, test::output10);
        kernel::renderWith(kernel_, image, out.view(), {0, 0, width, height}, bands);
        EXPECT_TRUE(out.untouchedBeyond(width, height)) << "written outside the bounds";
        return out;
    }

    kernel::GradeRows kernel_ = nullptr;
};

TEST_P(GradeKernel, FlatColoursGiveKnownCodes) {
    const struct {
        const char* name;
        PictureFormat format;
        std::array<int, 3> in;
        std::array<double, 3> out;
    } cases[] = {
        {"full 10-bit 64", full10, {64, 512, 512}, {64, 512, 512}},
        {"full 10-bit 940", full10, {940, 512, 512}, {940, 512, 512}},
        {"full 10-bit colour", full10, {300, 700, 400}, {300, 700, 400}},
        {"no cube, out of gamut", full10, {512, 1023, 0}, {512, 1023, 0}},
        {"limited 10-bit 64", {10}, {64, 512, 512}, {0, 512, 512}},
        {"limited 10-bit colour", {10}, {283, 624, 400}, {256, 640, 384}},
        {"limited 8-bit black", limited8, {16, 128, 128}, {0, 512, 512}},
        {"limited 8-bit white", limited8, {235, 128, 128}, {1023, 512, 512}},
        {"limited 8-bit below black", limited8, {1, 128, 128}, {0, 512, 512}},
        {"full 8-bit white", {8, 1, 1, ColourRange::full}, {255, 128, 128}, {1023, 512, 512}},
        {"limited 12-bit 4:2:2", {12, 1, 0}, {1132, 2048, 2048}, {256, 512, 512}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestPicture in(10, 4, c.format);
        for (int i = 0; i < 10; ++i)
            setBlock(in, c.format, i % 5, i / 5, c.in);
        const auto out = render(Image::fromPicture(in.view()), 10, 4);
        for (int i = 0; i < 10; ++i)
            expectBlockNear(out, i % 5, i / 5, c.out, 0);
    }
}

TEST_P(GradeKernel, IdentityCubesRoundTrip) {
    std::mt19937 random(7);
    for (int n : {2, 33})
        for (const auto& format : {full10, limited8}) {
            SCOPED_TRACE(testing::Message() << "cube " << n << ", " << format.bitDepth << "-bit");
            // Well inside the RGB cube, so that nothing clamps.
            const bool full = format.range == ColourRange::full;
            std::uniform_int_distribution<int> luma(full ? 256 : 71, full ? 767 : 180);
            std::uniform_int_distribution<int> chroma(full ? 412 : 107, full ? 612 : 149);
            TestPicture in(20, 6, format);
            for (int p = 0; p < 3; ++p)
                in.fill(p, [&](int, int) { return p ? chroma(random) : luma(random); });
            const auto out = render(
                test::graded(in.view(), n, test::cubeBytes(n, [](Rgb c) { return c; })), 20, 6);
            // 10-bit full range keeps its codes; 8-bit limited is rescaled exactly.
            const auto expected = [&](int p, int v) {
                return full ? v : p ? 512 + 1023.0 * (v - 128) / 224 : 1023.0 * (v - 16) / 219;
            };
            for (int p = 0; p < 3; ++p)
                for (int y = 0; y < in.planeHeight(p); ++y)
                    for (int x = 0; x < in.planeWidth(p); ++x)
                        ASSERT_NEAR(out.at(p, x, y), expected(p, in.at(p, x, y)),
                                    full ? 0 : roundingSlack)
                            << p << ":" << x << "," << y;
        }
}

TEST_P(GradeKernel, GridPointsComeOutExactly) {
    const PictureFormat limited16{16};
    for (int n : {2, 3, 33}) {
        SCOPED_TRACE(testing::Message() << "cube " << n);
        const auto entries = randomEntries(n, -0.1f, 1.1f, 11u + n);
        // 16-bit limited greys land exactly on every grid level of these sizes; the
        // last two blocks lie below black and above white and clamp to the ends.
        TestPicture in(2 * (n + 2), 2, limited16);
        for (int k = 0; k < n; ++k)
            setBlock(in, limited16, k, 0, {4096 + k * 56064 / (n - 1), 32768, 32768});
        setBlock(in, limited16, n, 0, {0, 32768, 32768});
        setBlock(in, limited16, n + 1, 0, {65535, 32768, 32768});
        const auto out = render(test::graded(in.view(), n, cubeOf(n, entries)), 2 * (n + 2), 2);

        const auto entry = [&](int k) {
            const std::size_t i = 3 * (k + n * (k + n * static_cast<std::size_t>(k)));
            return test::outputOf({entries[i], entries[i + 1], entries[i + 2]});
        };
        for (int k = 0; k < n; ++k)
            expectBlockNear(out, k, 0, entry(k), roundingSlack);
        expectBlockNear(out, n, 0, entry(0), roundingSlack);
        expectBlockNear(out, n + 1, 0, entry(n - 1), roundingSlack);
    }
}

// Random colours written with each matrix and range come out as the cube maps
// them, in BT.709.
TEST_P(GradeKernel, ColoursFollowTheCubeFromEveryMatrixAndRange) {
    const std::pair<const char*, std::function<Rgb(Rgb)>> cubes[] = {
        {"no cube", nullptr},
        {"swap red and blue",
         [](Rgb c) {
             return Rgb{c.b, c.g, c.r};
         }},
        {"rotate",
         [](Rgb c) {
             return Rgb{c.g, c.b, c.r};
         }},
        {"invert",
         [](Rgb c) {
             return Rgb{1 - c.r, 1 - c.g, 1 - c.b};
         }},
    };
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0, 1);
    for (const auto& [name, f] : cubes)
        for (auto matrix : {YCbCrMatrix::bt709, YCbCrMatrix::bt601, YCbCrMatrix::bt2020})
            for (auto range : {ColourRange::limited, ColourRange::full}) {
                const int n = matrix == YCbCrMatrix::bt601 ? 2 : 17;
                SCOPED_TRACE(testing::Message() << name << ", cube " << n << ", matrix "
                                                << int(matrix) << ", range " << int(range));
                const PictureFormat format{16, 0, 0, range, matrix};
                Rgb colours[16];
                TestPicture in(16, 4, format);
                for (int i = 0; i < 16; ++i) {
                    colours[i] = {unit(random), unit(random), unit(random)};
                    setBlock(in, format, i % 8, i / 8, test::codesOf(colours[i], format));
                }
                const auto out = render(f ? test::graded(in.view(), n, test::cubeBytes(n, f))
                                          : Image::fromPicture(in.view()),
                                        16, 4);
                for (int i = 0; i < 16; ++i)
                    expectBlockNear(out, i % 8, i / 8,
                                    test::outputOf(f ? f(colours[i]) : colours[i]), quantisedSlack);
            }
}

TEST_P(GradeKernel, ChromaIsReplicatedThenAveragedPerBlock) {
    std::mt19937 random(5);
    for (auto [sx, sy] : {std::pair{0, 0}, {1, 0}, {1, 1}}) {
        SCOPED_TRACE(testing::Message() << "chroma shifts " << sx << "," << sy);
        TestPicture in(14, 4, {10, sx, sy, ColourRange::full});
        for (int p = 0; p < 3; ++p)
            in.fill(p, [&](int, int) { return p ? 462 + random() % 101 : 300 + random() % 401; });
        const auto out = render(Image::fromPicture(in.view()), 14, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 14; ++x)
                EXPECT_EQ(out.at(0, x, y), in.at(0, x, y)) << x << "," << y;
        for (int p = 1; p < 3; ++p)
            for (int by = 0; by < 2; ++by)
                for (int bx = 0; bx < 7; ++bx) {
                    double sum = 0;
                    for (int i = 0; i < 4; ++i)
                        sum += in.at(p, (2 * bx + i % 2) >> sx, (2 * by + i / 2) >> sy);
                    EXPECT_NEAR(out.at(p, bx, by), sum / 4, roundingSlack)
                        << p << ":" << bx << "," << by;
                }
    }
}

// Whatever the size, stride or band split, each 2×2 block comes out as it does
// alone in a tightly packed picture. Row padding holds the largest code.
TEST_P(GradeKernel, SizesStridesAndBandsDoNotChangePixels) {
    const int n = 5;
    const auto cube = cubeOf(n, randomEntries(n, 0, 1, 17));
    const struct {
        int width, height, bands;
    } sizes[] = {{2, 2, 1}, {2, 8, 1}, {8, 2, 1}, {6, 4, 1}, {18, 4, 1}, {34, 6, 3}, {26, 8, 2}};
    for (const auto& f : {limited8, PictureFormat{12, 1, 0, ColourRange::full}})
        for (const auto& s : sizes) {
            SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " in " << s.bands
                                            << " bands, " << f.bitDepth << "-bit");
            const int top = (1 << f.bitDepth) - 1;
            TestPicture in(s.width + 4, s.height + 2, f, 9, top);
            for (int p = 0; p < 3; ++p)
                in.fill(p,
                        [&](int x, int y) { return (x * 37 + y * 101 + p * 13) * 29 % (top + 1); });
            const auto out = render(test::graded(in.view(), n, cube), s.width, s.height, s.bands);

            for (int by = 0; by < s.height / 2; ++by)
                for (int bx = 0; bx < s.width / 2; ++bx) {
                    TestPicture block(2, 2, f, 0);
                    for (int p = 0; p < 3; ++p) {
                        const int x0 = p ? (2 * bx) >> f.shiftX : 2 * bx;
                        const int y0 = p ? (2 * by) >> f.shiftY : 2 * by;
                        block.fill(p, [&](int x, int y) { return in.at(p, x0 + x, y0 + y); });
                    }
                    const auto alone = render(test::graded(block.view(), n, cube), 2, 2);
                    for (int i = 0; i < 4; ++i)
                        ASSERT_EQ(out.at(0, 2 * bx + i % 2, 2 * by + i / 2),
                                  alone.at(0, i % 2, i / 2));
                    ASSERT_EQ(out.at(1, bx, by), alone.at(1, 0, 0));
                    ASSERT_EQ(out.at(2, bx, by), alone.at(2, 0, 0));
                }
        }
}

TEST_P(GradeKernel, NonFiniteCubesGiveInRangeCodes) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    TestPicture in(18, 4, {8, 1, 1, ColourRange::full});
    std::mt19937 random(9);
    for (int p = 0; p < 3; ++p)
        in.fill(p, [&](int, int) { return static_cast<int>(random() % 256); });

    // Documented readings: NaN as 0, infinities as ±2^16.
    const std::pair<float, std::array<double, 3>> uniform[] = {
        {nan, {0, 512, 512}}, {inf, {1023, 512, 512}}, {-inf, {0, 512, 512}}};
    for (const auto& [value, codes] : uniform) {
        SCOPED_TRACE(testing::Message() << "every entry " << value);
        const auto cube = test::cubeBytes(3, [&](Rgb) { return Rgb{value, value, value}; });
        const auto out = render(test::graded(in.view(), 3, cube), 18, 4);
        for (int i = 0; i < 18; ++i)
            expectBlockNear(out, i % 9, i / 9, codes, 0);
    }

    auto entries = randomEntries(4, -2, 3, 21);
    for (std::size_t i = 0; i < entries.size(); i += 2)
        entries[i] = std::array{nan, inf, -inf}[i % 3];
    const auto out = render(test::graded(in.view(), 4, cubeOf(4, entries)), 18, 4);
    for (int i = 0; i < 18 * 4; ++i)
        ASSERT_LE(std::max({out.at(0, i % 18, i / 18), out.at(1, i % 9, i / 36),
                            out.at(2, i % 9, i / 36)}),
                  1023);
}

INSTANTIATE_TEST_SUITE_P(Kernels, GradeKernel, testing::Values(Kind::scalar, Kind::avx2),
                         [](const auto& info) {
                             return std::string(info.param == Kind::scalar ? "scalar" : "avx2");
                         });

TEST(GradeKernels, FastAgreesWithScalarWithinOneCode) {
    const auto fast = kernel::kernel(Kind::avx2);
    if (!fast)
        GTEST_SKIP() << "this CPU has no vector kernel";
    std::mt19937 random(13);
    const auto cube = cubeOf(17, randomEntries(17, -0.2f, 1.2f, 19));
    int trial = 0;
    for (int bits : {8, 10, 12, 16})
        for (auto [sx, sy] : {std::pair{1, 1}, {1, 0}, {0, 0}})
            for (auto range : {ColourRange::limited, ColourRange::full})
                for (bool withCube : {true, false}) {
                    const PictureFormat f{bits, sx, sy, range, YCbCrMatrix(trial++ % 3)};
                    SCOPED_TRACE(testing::Message()
                                 << bits << "-bit, shifts " << sx << sy << ", range " << int(range)
                                 << ", cube " << withCube);
                    TestPicture in(30, 6, f);
                    for (int p = 0; p < 3; ++p)
                        in.fill(
                            p, [&](int, int) { return static_cast<int>(random() >> (32 - bits)); });
                    const Image image = withCube ? test::graded(in.view(), 17, cube)
                                                 : Image::fromPicture(in.view());
                    TestPicture a(30, 6, test::output10), b(30, 6, test::output10);
                    kernel::renderWith(fast, image, a.view(), {0, 0, 30, 6}, 1);
                    kernel::renderWith(kernel::kernel(Kind::scalar), image, b.view(), {0, 0, 30, 6},
                                       1);
                    ASSERT_LE(a.maxDifference(b), 1);
                }
}

} // namespace
} // namespace vantrel::imaging
