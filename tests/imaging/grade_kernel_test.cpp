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
using test::cube;

struct PictureFormat {
    int bitDepth = 8, shiftX = 1, shiftY = 1;
    Range range = Range::limited;
    Matrix matrix = Matrix::bt709;
};

// Planes with 5 spare samples a row and a spare row; every sample holds flat[p]
// (by default 0xffff, so that writes outside the picture show) or a random code.
struct TestPicture {
    TestPicture(int width, int height, PictureFormat f,
                std::optional<std::array<int, 3>> flat = std::array{0xffff, 0xffff, 0xffff},
                unsigned seed = 0)
        : bytes(f.bitDepth > 8 ? 2 : 1),
          stride((width + 5) * bytes), view{width, height, f.bitDepth, f.shiftX, f.shiftY, {}, {}} {
        view.colour.range = f.range;
        view.colour.matrix = f.matrix;
        std::mt19937 random(seed);
        for (int p = 0; p < 3; ++p) {
            planes[p].resize(stride * (height + 1));
            view.planes[p] = {planes[p].data(), stride};
            for (std::size_t i = 0; i < planes[p].size(); i += bytes) {
                const int v = flat ? (*flat)[p] : static_cast<int>(random() >> (32 - f.bitDepth));
                std::memcpy(&planes[p][i], &v, bytes);
            }
        }
    }
    int at(int p, int x, int y) const {
        int value = 0;
        std::memcpy(&value, &planes[p][y * stride + x * bytes], bytes);
        return value;
    }
    int bytes;
    std::ptrdiff_t stride;
    std::vector<std::uint8_t> planes[3];
    PictureView view;
};

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
        std::optional<Cube> c;
        if (!rgb.empty())
            c.emplace(std::lround(std::cbrt(rgb.size() / 3)), rgb);
        kernel::renderWith(k ? k : kernel::kernel(GetParam()), c ? &*c : nullptr, source, target,
                           bands);
        int changed = 0;
        for (const auto& plane : out.planes)
            for (std::size_t i = 0; i < plane.size(); i += 2)
                changed += (plane[i] & plane[i + 1]) != 0xff;
        EXPECT_EQ(changed, w * h * 3 / 2) << "written outside the picture";
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
        const auto out = render(TestPicture(10, 4, c.format, c.in).view, {}, 10, 4);
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ((std::array{out.at(0, i % 10, i / 10), out.at(1, i % 5, i / 20),
                                  out.at(2, i % 5, i / 20)}),
                      c.out)
                << c.format.bitDepth << "-bit " << c.in[0];
    }
}

// Random samples (the sharpest picture there is) of every format, matrix and
// siting, through no cube, a scattered one, an identity and damaged ones, at
// sizes that leave vector tails and chroma planes of odd size, in several bands;
// and through a cube too large for the AVX-512 kernel's quads (a slope near 100
// lets float rounding move a value a few hundredths of a code). The kernel the
// grade chooses must give the very same codes.
TEST_P(GradeKernel, MatchesTheFormulaForEveryFormat) {
    using Values = std::vector<float>;
    const Values cubes[] = {{},
                            cube(5, false),
                            cube(17, true),
                            Values(24, NAN),
                            Values(24, INFINITY),
                            Values(24, -INFINITY),
                            cube(66, false)};
    const std::array<int, 3> sizes[] = {{34, 6, 3}, {2, 2, 1}, {16, 4, 2}, {22, 8, 2}, {12, 2, 1}};
    for (int trial = 0; trial < 24 * 6 + 4; ++trial) {
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
        const auto rgb =
            test::decodeYCbCr({format.bitDepth, format.shiftX, format.shiftY, format.range,
                               format.matrix, in.view.colour.siting},
                              w, h, [&](int p, int x, int y) { return in.at(p, x, y); });
        ASSERT_TRUE(test::matches(test::encode(rgb, values.empty() ? nullptr : &values), out.view,
                                  trial < 24 * 6 ? 0.502 : 0.55));
        const auto byDefault = render(in.view, values, w, h, 1, kernel::chosenKernel());
        for (int p = 0; p < 3; ++p)
            ASSERT_EQ(byDefault.planes[p], out.planes[p]) << "plane " << p;
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
    const Grade grade(2, cube(2, true));
    TestPicture source(4, 4, {8}), target(4, 4, {10, 1, 1, Range::full});
    for (const int width : {6, 3, 4}) {
        target.view.width = width;
        if (width == 4)
            EXPECT_NO_THROW(grade.render(source.view, target.view));
        else
            EXPECT_THROW(grade.render(source.view, target.view), Error) << width;
    }
    EXPECT_THROW(grade.render(source.view, source.view), Error) << "not 10-bit";
}

} // namespace
} // namespace vantrel::imaging
