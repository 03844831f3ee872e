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

    // Rows as the file stores them (floats), shaper rows first.
    std::vector<std::array<float, 3>> shaperRows() const {
        std::vector<std::array<float, 3>> rows;
        for (int i = 0; i < shaperSize; ++i)
            rows.push_back({static_cast<float>(shaper(0, i / (shaperSize - 1.0))),
                            static_cast<float>(shaper(1, i / (shaperSize - 1.0))),
                            static_cast<float>(shaper(2, i / (shaperSize - 1.0)))});
        return rows;
    }
    std::vector<std::array<float, 3>> cubeRows() const {
        std::vector<std::array<float, 3>> rows;
        const double top = cubeSize - 1.0;
        for (int b = 0; b < cubeSize; ++b)
            for (int g = 0; g < cubeSize; ++g)
                for (int r = 0; r < cubeSize; ++r) {
                    const Rgb v = cube({r / top, g / top, b / top});
                    rows.push_back({static_cast<float>(v[0]), static_cast<float>(v[1]),
                                    static_cast<float>(v[2])});
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

// Linear interpolation of one column of `rows` at t in [0, 1].
double along(const std::vector<std::array<float, 3>>& rows, int c, double t) {
    const double x = t * (static_cast<double>(rows.size()) - 1);
    const auto i = std::min(static_cast<std::size_t>(x), rows.size() - 2);
    const double f = x - static_cast<double>(i);
    return rows[i][c] * (1 - f) + rows[i + 1][c] * f;
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
        std::size_t stride = 1;
        for (int c = 0; c < 3; ++c) {
            const int up = corner >> c & 1;
            w *= up ? f[c] : 1 - f[c];
            at += (index[c] + up) * stride;
            stride *= size;
        }
        const auto e = entry(at);
        for (int c = 0; c < 3; ++c)
            out[c] += w * e[c];
    }
    return out;
}

Rgb composite(const ShapedFile& file, Rgb in) {
    static thread_local const ShapedFile* cached = nullptr;
    static thread_local std::vector<std::array<float, 3>> shaper, cube;
    if (cached != &file) {
        shaper = file.shaperRows();
        cube = file.cubeRows();
        cached = &file;
    }
    Rgb u;
    for (int c = 0; c < 3; ++c) {
        const double y =
            along(shaper, c, unit((in[c] - file.shaperMin) / (file.shaperMax - file.shaperMin)));
        u[c] = (y - file.cubeMin) / (file.cubeMax - file.cubeMin);
    }
    return trilinear([&](std::size_t i) { return cube[i]; }, file.cubeSize, u);
}

Rgb graded(const CubeLUT& lut, Rgb in) {
    return trilinear(
        [&](std::size_t i) {
            const auto e = lut.entry(static_cast<std::int64_t>(i));
            return std::array<float, 3>{e[0], e[1], e[2]};
        },
        static_cast<int>(lut.size()), in);
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
         10, 10},
        // Values are taken as read; the shaper may leave the cube's range, which
        // puts kinks where the cube's range ends.
        {"shaper beyond the cube", 3, 0, 1, [](int, double t) { return 1.5 * t - 0.25; }, 5, 0, 1,
         look, 10, 10}};
    std::mt19937 random(7);
    std::uniform_real_distribution<double> anywhere(0.0, 1.0);
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        const auto lut = Exporter::parseCube(file.text());
        EXPECT_EQ(lut.warnings(), std::vector<std::string>{});
        EXPECT_GE(lut.size(), file.cubeSize);
        const double top = static_cast<double>(lut.size() - 1);
        // Its grid points hold the composite itself...
        for (std::int64_t i = 0; i < lut.size(); i += 3) {
            const Rgb at{i / top, (lut.size() - 1 - i) / top, (i / 2) / top};
            const auto entry = lut.entry(i + lut.size() * (lut.size() - 1 - i) +
                                         lut.size() * lut.size() * (i / 2));
            const Rgb expected = composite(file, at);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(entry[c], expected[c], 1e-6) << "grid point " << i;
            EXPECT_EQ(entry[3], 1.0f);
        }
        // ...and between them it stays close to it: where the shaper bends hard
        // the cube's own kinks land between the grid points and cannot be followed.
        double worst = 0;
        int beyond = 0;
        for (int i = 0; i < 20000; ++i) {
            const Rgb in{anywhere(random), anywhere(random), anywhere(random)};
            const Rgb got = graded(lut, in);
            const Rgb expected = composite(file, in);
            double e = 0;
            for (int c = 0; c < 3; ++c)
                e = std::max(e, std::abs(got[c] - expected[c]));
            worst = std::max(worst, e);
            beyond += e > code;
        }
        EXPECT_LE(worst, file.worstCodes * code) << "baked at " << lut.size() << " points";
        EXPECT_LE(beyond, 20000 / 100 * file.outliers) << "points off by more than a code";
    }
    // A shaper that changes nothing leaves the cube as it was, at its own size.
    const auto identity = Exporter::parseCube(files[0].text());
    ASSERT_EQ(identity.size(), 9);
    const auto rows = files[0].cubeRows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(identity.entry(static_cast<std::int64_t>(i))[c], rows[i][c], 1e-6);
    // A curved shaper needs more points than the cube has.
    EXPECT_GT(Exporter::parseCube(files[2].text()).size(), 17);
}

TEST(CubeShaper, CountsAndRangesThatDoNotFit) {
    const ShapedFile base{"base", 4, 0, 1, [](int, double t) { return t; }, 2, 0, 1, look};
    const std::string text = base.text();
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    // One entry short of 4 + 8: code 2. Surplus entries and unusable ranges: warnings.
    try {
        Exporter::parseCube(text.substr(0, text.rfind('\n', text.size() - 2) + 1));
        ADD_FAILURE() << "parsed with an entry missing";
    } catch (const CubeError& e) {
        EXPECT_EQ(e.code(), 2);
    }
    const struct {
        std::string text;
        std::string warning; // empty: none
    } cases[] = {
        {text + "0.5 0.5 0.5\n", "1 more entries than LUT_1D_SIZE 4 and LUT_3D_SIZE 2 need"},
        {replaced("LUT_1D_INPUT_RANGE 0 1", "LUT_1D_INPUT_RANGE 1 1"),
         "LUT_1D_INPUT_RANGE of 1 to 1 cannot be used"},
        {replaced("LUT_3D_INPUT_RANGE 0 1", "LUT_3D_INPUT_RANGE 0 nan"),
         "LUT_3D_INPUT_RANGE of 0 to nan cannot be used"},
        {replaced("LUT_3D_INPUT_RANGE 0 1", "LUT_3D_INPUT_RANGE 0"),
         "LUT_3D_INPUT_RANGE line cannot be read"},
        {replaced("LUT_1D_INPUT_RANGE 0 1", "LUT_1D_INPUT_RANGE -1e308 1e308"), "cannot be used"},
        {replaced("LUT_1D_INPUT_RANGE 0 1", "lut_1d_input_range 1 0"), ""}};
    for (const auto& c : cases) {
        const auto lut = Exporter::parseCube(c.text);
        if (c.warning.empty()) {
            EXPECT_EQ(lut.warnings(), std::vector<std::string>{}) << c.text;
            continue;
        }
        ASSERT_EQ(lut.warnings().size(), 1u) << c.text;
        EXPECT_NE(lut.warnings()[0].find(c.warning), std::string::npos) << lut.warnings()[0];
    }
    // A reversed range is a valid one: it turns the shaper around.
    const auto reversed =
        Exporter::parseCube(replaced("LUT_1D_INPUT_RANGE 0 1", "LUT_1D_INPUT_RANGE 1 0"));
    EXPECT_FLOAT_EQ(reversed.entry(0)[0], 1.0f); // look(1, 1, 1)
    EXPECT_FLOAT_EQ(reversed.entry(1)[0], 0.2f); // look(0, 1, 1)
}

} // namespace
} // namespace vantrel
