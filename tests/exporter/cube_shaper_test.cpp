// .cube files with a 1D table (alone, or as a shaper before the 3D cube) or a domain:
// the parsed cube must grade as the file's tables would, checked against a
// double-precision evaluation written here from the file's own rows.

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include "../imaging/cube_lookup.hpp"
#include "exporter/cube_lut.hpp"

namespace vantrel {
namespace {

using test::lookup;
using test::Rgb;

struct ShapedFile {
    int shaperSize; // 0: no 1D table
    double shaperMin, shaperMax;
    std::function<double(int channel, double t)> shaper; // row value at t in [0, 1]
    int cubeSize;                                        // 0: no cube
    double cubeMin, cubeMax;
    std::function<Rgb(Rgb u)> cube; // entry at grid coordinates u in [0, 1]³
    // How far the baked cube may stray from the composite between its grid points,
    // in 10-bit codes: at worst, and for all but 1 point in `outliers`.
    double worstCodes = 1;
    double outliers = 0;
    // DOMAIN_MIN and DOMAIN_MAX per channel, in place of the first table's range line.
    std::optional<std::array<Rgb, 2>> domain = {};
    std::vector<float> shaperRows = {}, cubeRows = {}; // as the file stores them, flat

    // The layout colour tools write: keywords, then the shaper's rows, then the cube's.
    std::string text() {
        std::string t;
        if (domain)
            t += fmt::format("DOMAIN_MIN {}\nDOMAIN_MAX {}\n", fmt::join((*domain)[0], " "),
                             fmt::join((*domain)[1], " "));
        if (shaperSize) // a domain gives the first table's range
            t += fmt::format("LUT_1D_SIZE {}\n", shaperSize) +
                 (domain ? "" : fmt::format("LUT_1D_INPUT_RANGE {} {}\n", shaperMin, shaperMax));
        if (cubeSize)
            t += fmt::format("LUT_3D_SIZE {}\nLUT_3D_INPUT_RANGE {} {}\n", cubeSize, cubeMin,
                             cubeMax);
        const auto add = [&](std::vector<float>& rows, Rgb v) {
            const std::array<float, 3> row{float(v[0]), float(v[1]), float(v[2])};
            rows.insert(rows.end(), row.begin(), row.end());
            t += fmt::format("{:.9g} {:.9g} {:.9g}\n", row[0], row[1], row[2]);
        };
        shaperRows.clear();
        cubeRows.clear();
        for (double i = 0; i < shaperSize; ++i)
            add(shaperRows, {shaper(0, i / (shaperSize - 1)), shaper(1, i / (shaperSize - 1)),
                             shaper(2, i / (shaperSize - 1))});
        const int n = cubeSize;
        for (int i = 0; i < n * n * n; ++i)
            add(cubeRows, cube({i % n / (n - 1.0), i / n % n / (n - 1.0), i / n / n / (n - 1.0)}));
        return t;
    }
    // The file's meaning, from its rows: the 1D table, then the cube, each limited to
    // its own input range.
    Rgb composite(Rgb in) const {
        Rgb u;
        for (int c = 0; c < 3; ++c) {
            const double low = domain ? (*domain)[0][c] : shaperSize ? shaperMin : cubeMin;
            const double high = domain ? (*domain)[1][c] : shaperSize ? shaperMax : cubeMax;
            u[c] = (in[c] - low) / (high - low); // no 1D table: the cube's coordinate
            if (!shaperSize)
                continue;
            const double x = std::clamp(u[c], 0.0, 1.0) * (shaperSize - 1.0);
            const auto i = std::min(static_cast<std::size_t>(x), shaperRows.size() / 3 - 2);
            const float* row = &shaperRows[3 * i + c];
            u[c] = row[0] + (x - i) * (row[3] - row[0]);
            if (cubeSize)
                u[c] = (u[c] - cubeMin) / (cubeMax - cubeMin);
        }
        return cubeSize ? lookup(cubeRows, u) : u;
    }
};

// A smooth look with cross-talk between channels, so a swapped axis shows.
Rgb look(Rgb u) {
    return {0.8 * u[0] + 0.2 * u[2] * u[2], std::sqrt(u[1]) * 0.9 + 0.05,
            0.5 + 0.5 * std::sin(2.5 * u[2] - 0.3 * u[0])};
}

constexpr double code = 1.0 / 1023;

TEST(CubeShaper, ShaperThenCubeGradesAsTheFileMeans) {
    const auto identity = [](int, double t) { return t; };
    const auto curves = [](int c, double t) {
        return c == 0 ? t * t : c == 1 ? std::sqrt(t) : 1.2 * t - 0.1;
    };
    // A log shaper before a cube that undoes it: strongly curved near black.
    const auto log = [](int, double t) { return std::log10(1 + 1000 * t) / 3; };
    const auto unlog = [](Rgb u) {
        for (double& v : u)
            v = (std::pow(10.0, 3 * v) - 1) / 999;
        return u;
    };
    // A camera's log-to-video curve alone, per channel.
    const auto toVideo = [](int c, double t) { return (std::pow(10.0, 2 * t) - 1) / (99 + 9 * c); };
    const std::array<Rgb, 2> domain{Rgb{-0.1, 0, 0.2}, Rgb{1.5, 2, 0.9}}, double2{{{}, {2, 2, 2}}};
    ShapedFile files[] = {{5, 0, 1, identity, 9, 0, 1, look, 0.01},
                          {64, -0.25, 1.25, curves, 9, -0.1, 1.1, look, 2.5, 6},
                          {1024, 0, 1, log, 17, 0, 1, unlog, 10, 10},
                          {4096, 0, 1, toVideo, 0, 0, 1, look, 0.7},
                          {32, 0, 1, curves, 0, 0, 1, look, 15, 7, domain},
                          {0, 0, 1, identity, 9, 0, 1, look, 0.01, 0, double2}};
    std::mt19937 random(7);
    // Inputs a little beyond 0 to 1, as chroma reconstruction makes them.
    std::uniform_real_distribution<double> anywhere(-0.2, 1.2);
    std::vector<std::int64_t> sizes;
    for (auto& file : files) {
        SCOPED_TRACE(file.text().substr(0, 60));
        const auto lut = parseCube(file.text());
        EXPECT_TRUE(lut.warnings.empty());
        sizes.push_back(lut.size);
        const double top = static_cast<double>(lut.size - 1), span = lut.input.max - lut.input.min;
        const auto input = [&](double u) { return lut.input.min + u * span; };
        // Its grid points hold the composite itself...
        for (std::int64_t i = 0; i < lut.size; i += 3) {
            const Rgb at{i / top, (lut.size - 1 - i) / top, (i / 2) / top};
            const Rgb got = lookup(lut.rgb, at),
                      expected = file.composite({input(at[0]), input(at[1]), input(at[2])});
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(got[c], expected[c], 1e-6) << "grid point " << i;
        }
        // ...and between them it stays close to it: where the shaper bends hard
        // the cube's own kinks land between the grid points and cannot be followed.
        const auto unit = [&](double x) { return (x - lut.input.min) / span; };
        double worst = 0;
        int beyond = 0;
        for (int i = 0; i < 20000; ++i) {
            const Rgb in{anywhere(random), anywhere(random), anywhere(random)},
                expected = file.composite(in);
            const Rgb got = lookup(lut.rgb, {unit(in[0]), unit(in[1]), unit(in[2])});
            double e = 0;
            for (int c = 0; c < 3; ++c)
                e = std::max(e, std::abs(got[c] - expected[c]));
            worst = std::max(worst, e);
            beyond += e > code;
        }
        EXPECT_LE(worst, file.worstCodes * code) << "baked at " << lut.size << " points";
        EXPECT_LE(beyond, 20000 / 100 * file.outliers) << "points off by more than a code";
    }
    // A shaper that changes nothing keeps the cube's size; a curved one needs more.
    EXPECT_EQ(sizes[0], 9);
    EXPECT_GT(sizes[2], 17);
}

// A NaN shaper value is read as the bottom of the cube's range, an infinite one as
// the top (limited like any value beyond it); the baked cube stays finite either way.
TEST(CubeShaper, NanAndInfiniteRowsBakeFiniteEntries) {
    for (const double odd : {double(NAN), double(INFINITY)}) {
        const auto shaper = [odd](int, double t) { return t == 0.5 ? odd : t; };
        const auto lut =
            parseCube(ShapedFile{3, 0, 1, shaper, 2, 0, 1, [](Rgb u) { return u; }}.text());
        const float expected = std::isnan(odd) ? 0.0f : 1.0f;
        for (const float v : lut.rgb)
            ASSERT_TRUE(v >= 0 && v <= expected) << "baked at " << lut.size;
        EXPECT_EQ(*std::max_element(lut.rgb.begin(), lut.rgb.end()), expected);
        // The input that meets the odd row exactly: the middle grid point.
        const auto n = lut.size;
        EXPECT_TRUE(n % 2 == 0 || lut.rgb[3 * ((n - 1) / 2 * (1 + n + n * n))] == expected);
    }
}

} // namespace
} // namespace vantrel
