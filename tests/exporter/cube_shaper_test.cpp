// .cube files with a 1D shaper before the 3D cube: the parsed cube must grade as the
// shaper followed by the cube would, checked against a double-precision evaluation
// written here from the file's own rows.

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "exporter/exporter.hpp"

namespace vantrel {
namespace {

using Rgb = std::array<double, 3>;
using Rows = std::vector<std::array<float, 3>>;

struct ShapedFile {
    std::string name;
    int shaperSize;
    double shaperMin, shaperMax;
    std::function<double(int channel, double t)> shaper; // row value at t in [0, 1]
    int cubeSize;
    double cubeMin, cubeMax;
    std::function<Rgb(Rgb u)> cube; // entry at grid coordinates u in [0, 1]³
    // How far the baked cube may stray from the composite between its grid points,
    // in 10-bit codes: at worst, and for all but 1 point in `outliers`.
    double worstCodes = 1;
    double outliers = 0;

    // Rows as the file stores them (floats).
    Rows shaperRows() const {
        Rows rows;
        for (int i = 0; i < shaperSize; ++i) {
            const double t = i / (shaperSize - 1.0);
            rows.push_back({float(shaper(0, t)), float(shaper(1, t)), float(shaper(2, t))});
        }
        return rows;
    }
    Rows cubeRows() const {
        Rows rows;
        const double top = cubeSize - 1.0;
        for (int i = 0; i < cubeSize * cubeSize * cubeSize; ++i) {
            const Rgb v = cube(
                {i % cubeSize / top, i / cubeSize % cubeSize / top, i / cubeSize / cubeSize / top});
            rows.push_back({float(v[0]), float(v[1]), float(v[2])});
        }
        return rows;
    }
    // The layout colour tools write: keywords, then the shaper's rows, then the cube's.
    std::string text() const {
        std::string t =
            fmt::format("TITLE \"{}\"\nLUT_1D_SIZE {}\nLUT_1D_INPUT_RANGE {} {}\n"
                        "LUT_3D_SIZE {}\nLUT_3D_INPUT_RANGE {} {}\n",
                        name, shaperSize, shaperMin, shaperMax, cubeSize, cubeMin, cubeMax);
        for (const auto& rows : {shaperRows(), cubeRows()})
            for (const auto& row : rows)
                t += fmt::format("{:.9g} {:.9g} {:.9g}\n", row[0], row[1], row[2]);
        return t;
    }
};

double unit(double v) {
    return std::clamp(v, 0.0, 1.0);
}

// Trilinear interpolation of size³ entries (red fastest) at u in [0, 1]³.
Rgb trilinear(const std::function<std::array<float, 3>(std::size_t)>& entry, int size, Rgb u) {
    std::size_t index[3];
    double f[3];
    for (int c = 0; c < 3; ++c) {
        const double x = unit(u[c]) * (size - 1);
        index[c] = std::min(static_cast<std::size_t>(x), static_cast<std::size_t>(size - 2));
        f[c] = x - static_cast<double>(index[c]);
    }
    Rgb out{};
    for (int corner = 0; corner < 8; ++corner) {
        double w = 1;
        std::size_t at = 0;
        for (int c = 0, stride = 1; c < 3; ++c, stride *= size) {
            const int up = corner >> c & 1;
            w *= up ? f[c] : 1 - f[c];
            at += (index[c] + up) * stride;
        }
        for (int c = 0; c < 3; ++c)
            out[c] += w * entry(at)[c];
    }
    return out;
}

Rgb composite(const ShapedFile& file, const Rows& shaper, const Rows& cube, Rgb in) {
    Rgb u;
    for (int c = 0; c < 3; ++c) {
        const double x = unit((in[c] - file.shaperMin) / (file.shaperMax - file.shaperMin)) *
                         (static_cast<double>(shaper.size()) - 1);
        const auto i = std::min(static_cast<std::size_t>(x), shaper.size() - 2);
        const double y = shaper[i][c] + (x - i) * (shaper[i + 1][c] - shaper[i][c]);
        u[c] = (y - file.cubeMin) / (file.cubeMax - file.cubeMin);
    }
    return trilinear([&](std::size_t i) { return cube[i]; }, file.cubeSize, u);
}

std::array<float, 3> entry(const CubeLUT& lut, std::size_t i) {
    const auto e = lut.entry(static_cast<std::int64_t>(i));
    return {e[0], e[1], e[2]};
}

// A smooth look with cross-talk between channels, so a swapped axis shows.
Rgb look(Rgb u) {
    return {0.8 * u[0] + 0.2 * u[2] * u[2], std::sqrt(u[1]) * 0.9 + 0.05,
            0.5 + 0.5 * std::sin(2.5 * u[2] - 0.3 * u[0])};
}

constexpr double code = 1.0 / 1023;

TEST(CubeShaper, ShaperThenCubeGradesAsTheFileMeans) {
    const ShapedFile files[] = {
        {"identity shaper", 5, 0, 1, [](int, double t) { return t; }, 9, 0, 1, look, 0.01},
        {"channel curves and ranges", 64, -0.25, 1.25,
         [](int c, double t) { return c == 0   ? t * t
                                      : c == 1 ? std::sqrt(t)
                                               : 1.2 * t - 0.1; }, 9,
         -0.1, 1.1, look, 2, 6},
        // A log shaper before a cube that undoes it: strongly curved near black.
        {"log shaper", 1024, 0, 1, [](int, double t) { return std::log10(1 + 1000 * t) / 3; }, 17,
         0, 1,
         [](Rgb u) {
             Rgb v;
             for (int c = 0; c < 3; ++c)
                 v[c] = (std::pow(10.0, 3 * u[c]) - 1) / 999;
             return v;
         },
         10, 10}};
    std::mt19937 random(7);
    std::uniform_real_distribution<double> anywhere(0.0, 1.0);
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        const Rows shaper = file.shaperRows(), cube = file.cubeRows();
        const auto lut = Exporter::parseCube(file.text());
        EXPECT_EQ(lut.warnings(), std::vector<std::string>{});
        const auto n = static_cast<std::size_t>(lut.size());
        const double top = static_cast<double>(n - 1);
        // Its grid points hold the composite itself...
        for (std::size_t i = 0; i < n; i += 3) {
            const Rgb expected = composite(file, shaper, cube, {i / top, (n - 1 - i) / top, 0.5});
            const auto got = entry(lut, i + n * (n - 1 - i) + n * n * (n - 1) / 2);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(got[c], expected[c], 1e-6) << "grid point " << i;
        }
        // ...and between them it stays close to it: where the shaper bends hard
        // the cube's own kinks land between the grid points and cannot be followed.
        double worst = 0;
        int beyond = 0;
        for (int i = 0; i < 20000; ++i) {
            const Rgb in{anywhere(random), anywhere(random), anywhere(random)};
            const Rgb got = trilinear([&](std::size_t j) { return entry(lut, j); }, int(n), in);
            const Rgb expected = composite(file, shaper, cube, in);
            double e = 0;
            for (int c = 0; c < 3; ++c)
                e = std::max(e, std::abs(got[c] - expected[c]));
            worst = std::max(worst, e);
            beyond += e > code;
        }
        EXPECT_LE(worst, file.worstCodes * code) << "baked at " << n << " points";
        EXPECT_LE(beyond, 20000 / 100 * file.outliers) << "points off by more than a code";
    }
    // A shaper that changes nothing keeps the cube's size; a curved one needs more.
    EXPECT_EQ(Exporter::parseCube(files[0].text()).size(), 9);
    EXPECT_GT(Exporter::parseCube(files[2].text()).size(), 17);
}

// A NaN shaper value is read as the bottom of the cube's range, an infinite one as
// the top (limited like any value beyond it); the baked cube stays finite either way.
TEST(CubeShaper, NanAndInfiniteRowsBakeFiniteEntries) {
    const auto identity = [](Rgb u) { return u; };
    const ShapedFile nanRow{"nan", 3, 0, 1,       [](int, double t) { return t == 0.5 ? NAN : t; },
                            2,     0, 1, identity};
    const ShapedFile infRow{
        "inf", 3, 0, 1, [](int, double t) { return t == 0.5 ? INFINITY : t; }, 2, 0, 1, identity};
    for (const auto* file : {&nanRow, &infRow}) {
        SCOPED_TRACE(file->name);
        const auto lut = Exporter::parseCube(file->text());
        const auto n = static_cast<std::size_t>(lut.size());
        double highest = 0;
        for (std::size_t i = 0; i < n * n * n; ++i)
            for (const float v : entry(lut, i)) {
                ASSERT_TRUE(std::isfinite(v)) << "entry " << i;
                EXPECT_GE(v, 0.0f);
                EXPECT_LE(v, 1.0f);
                highest = std::max<double>(highest, v);
            }
        // The input that meets the row exactly: grid point (n − 1) / 2 when n is odd.
        const std::size_t middle = (n - 1) / 2 * (1 + n + n * n);
        const float expected = file == &nanRow ? 0.0f : 1.0f;
        if (n % 2 == 1)
            EXPECT_EQ(entry(lut, middle)[0], expected) << "baked at " << n;
        EXPECT_EQ(highest, file == &nanRow ? 0.0 : 1.0);
    }
}

TEST(CubeShaper, RangesThatCannotBeUsedAreWarnedAbout) {
    const ShapedFile base{"base", 4, 0, 1, [](int, double t) { return t; }, 2, 0, 1, look};
    const auto replaced = [text = base.text()](const std::string& from, const std::string& to) {
        std::string t = text;
        return t.replace(t.find(from), from.size(), to);
    };
    const struct {
        std::string text;
        std::string warning; // empty: none
    } cases[] = {
        {base.text() + "0.5 0.5 0.5\n", "1 more entries than LUT_1D_SIZE 4 and LUT_3D_SIZE 2 need"},
        {replaced("LUT_1D_INPUT_RANGE 0 1", "LUT_1D_INPUT_RANGE 1 1"),
         "LUT_1D_INPUT_RANGE of 1 to 1 cannot be used"},
        {replaced("LUT_3D_INPUT_RANGE 0 1", "LUT_3D_INPUT_RANGE 0 nan"),
         "LUT_3D_INPUT_RANGE of 0 to nan cannot be used"},
        {replaced("LUT_3D_INPUT_RANGE 0 1", "LUT_3D_INPUT_RANGE 0"),
         "LUT_3D_INPUT_RANGE line cannot be read"},
        {replaced("LUT_1D_INPUT_RANGE 0 1", "LUT_1D_INPUT_RANGE -1e308 1e308"), "cannot be used"},
        {replaced("LUT_1D_INPUT_RANGE 0 1", "lut_1d_input_range 1 0"), ""}};
    for (const auto& c : cases) {
        const auto warnings = Exporter::parseCube(c.text).warnings();
        ASSERT_EQ(warnings.size(), c.warning.empty() ? 0u : 1u) << c.text;
        if (!c.warning.empty())
            EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
    }
    // A reversed range is a valid one: it turns the shaper around.
    const auto reversed =
        Exporter::parseCube(replaced("LUT_1D_INPUT_RANGE 0 1", "LUT_1D_INPUT_RANGE 1 0"));
    EXPECT_FLOAT_EQ(entry(reversed, 0)[0], 1.0f); // look(1, 1, 1)
    EXPECT_FLOAT_EQ(entry(reversed, 1)[0], 0.2f); // look(0, 1, 1)
}

} // namespace
} // namespace vantrel
