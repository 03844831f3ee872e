#pragma once
// The whole grade evaluated in double precision from its definition, written
// apart from the kernels and the fitter: source codes → R′G′B′ (the source's
// matrix and range, chroma rebuilt linearly at its siting) → trilinear or
// tetrahedral cube, mixed with the source by the strength → BT.709 full-range
// 10-bit Y′ per pixel and left-sited Cb, Cr per 2×2 block.

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "core/picture.hpp"
#include "cube_lookup.hpp"
#include "media/media_clips.hpp"

namespace vantrel::test {

using Codes = std::function<int(int plane, int x, int y)>;

struct RgbPicture {
    int width = 0, height = 0;
    std::vector<Rgb> pixels; // row by row
    Rgb& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
    const Rgb& at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

struct YCbCrFormat {
    int bitDepth = 8, shiftX = 1, shiftY = 1;
    Range range = Range::limited;
    Matrix matrix = Matrix::bt709; // bt709, smpte170m or bt2020ncl
    ChromaSiting siting = ChromaSiting::left;
};

// Chroma of one plane at luma (x, y): chroma sample j sits at luma position
// 2^shift·j + offset·(2^shift − 1); between two samples the value is linear,
// beyond the outer ones it is the outer sample's.
inline double rebuiltChroma(const YCbCrFormat& f, const Codes& code, int plane, int width,
                            int height, int x, int y) {
    // (x, y) offsets: unspecified (as left), left, centre, topLeft, top, bottomLeft, bottom.
    static constexpr double offsets[7][2] = {{0, .5}, {0, .5}, {.5, .5}, {0, 0},
                                             {.5, 0}, {0, 1},  {.5, 1}};
    double fraction[2], value = 0;
    int cell[2], samples[2];
    for (int a = 0; a < 2; ++a) {
        const int shift = a ? f.shiftY : f.shiftX, at = a ? y : x;
        const double position =
            (at - offsets[int(f.siting)][a] * ((1 << shift) - 1)) / (1 << shift);
        cell[a] = int(std::floor(position));
        fraction[a] = position - cell[a];
        samples[a] = ((a ? height : width) + (1 << shift) - 1) >> shift;
    }
    for (int k = 0; k < 4; ++k)
        value += (k & 1 ? fraction[0] : 1 - fraction[0]) * (k & 2 ? fraction[1] : 1 - fraction[1]) *
                 code(plane, std::clamp(cell[0] + (k & 1), 0, samples[0] - 1),
                      std::clamp(cell[1] + (k >> 1), 0, samples[1] - 1));
    return value;
}

inline RgbPicture decodeYCbCr(const YCbCrFormat& f, int width, int height, const Codes& code) {
    const auto [kr, kb] = f.matrix == Matrix::smpte170m   ? std::pair{0.299, 0.114}
                          : f.matrix == Matrix::bt2020ncl ? std::pair{0.2627, 0.0593}
                                                          : std::pair{0.2126, 0.0722};
    const double unit = std::ldexp(1.0, f.bitDepth - 8), top = std::ldexp(1.0, f.bitDepth) - 1;
    const bool limited = f.range != Range::full; // untagged video is limited
    RgbPicture out{width, height, std::vector<Rgb>(std::size_t(width) * height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double luma =
                (code(0, x, y) - (limited ? 16 * unit : 0)) / (limited ? 219 * unit : top);
            const auto chroma = [&](int p) {
                return (rebuiltChroma(f, code, p, width, height, x, y) - 128 * unit) /
                       (limited ? 224 * unit : top);
            };
            const double r = luma + 2 * (1 - kr) * chroma(2), b = luma + 2 * (1 - kb) * chroma(1);
            out.at(x, y) = {r, (luma - kr * r - kb * b) / (1 - kr - kb), b};
        }
    return out;
}

// n³ RGB entries, red fastest: the identity, or scattered values in [-0.2, 1.2].
inline std::vector<float> cube(int n, bool identity) {
    std::vector<float> rgb(3 * n * n * n);
    for (int i = 0; i < 3 * n * n * n; ++i)
        rgb[i] = identity ? i / 3 / std::array{1, n, n * n}[i % 3] % n / (n - 1.0f)
                          : 0.5f + 0.7f * std::sin(i * 12.9898f);
    return rgb;
}

// Output code values before rounding and limiting, plane by plane, row by row.
struct Expected {
    int width = 0, height = 0;
    std::vector<double> planes[3];
};

inline Expected encode(const RgbPicture& in, const std::vector<float>* cube,
                       GradeOptions options = {}, InputRange range = {}) {
    const int w = in.width, h = in.height;
    Expected out{w, h, {}};
    RgbPicture coded = in; // 1023·Y′ and the codes of B′ − Y′ and R′ − Y′ around 0
    for (auto& c : coded.pixels) {
        const Rgb v = cube ? lookup(*cube, c, options, range) : c;
        const double luma = 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2];
        c = {1023 * luma, 1023 * (v[2] - luma) / 1.8556, 1023 * (v[0] - luma) / 1.5748};
        out.planes[0].push_back(c[0]);
    }
    // Co-sited with the even columns: taps ¼ ½ ¼ across, the row pair's mean down.
    for (int p = 1; p < 3; ++p)
        for (int i = 0; i < w / 2 * (h / 2); ++i) {
            double code = 512;
            for (int k = 0; k < 6; ++k)
                code +=
                    (k % 3 == 1 ? 0.25 : 0.125) *
                    coded.at(std::max(i % (w / 2) * 2 + k % 3 - 1, 0), i / (w / 2) * 2 + k / 3)[p];
            out.planes[p].push_back(code);
        }
    return out;
}

// The picture turned: where each source pixel goes, from the orientation's
// description (an "up" picture's top edge faces the named side). Per
// orientation, the target's x and y: ±1 the source x, ±2 the source y,
// negative when counted from the far edge.
inline RgbPicture turn(const RgbPicture& in, Orientation o) {
    static constexpr int axes[8][2] = {{1, 2},  {-1, 2}, {-1, -2}, {1, -2},
                                       {2, -1}, {2, 1},  {-2, 1},  {-2, -1}};
    const int w = in.width, h = in.height, k = static_cast<int>(o);
    RgbPicture out{k >= 4 ? h : w, k >= 4 ? w : h, in.pixels};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto axis = [&](int m) {
                const int v = std::abs(m) == 1 ? x : y, n = std::abs(m) == 1 ? w : h;
                return m > 0 ? v : n - 1 - v;
            };
            out.at(axis(axes[k][0]), axis(axes[k][1])) = in.at(x, y);
        }
    return out;
}

// Every output code within `tolerance` of the expected value, limited to the
// code range; reports the first miss with its place.
inline ::testing::AssertionResult matches(const Expected& expected, const PictureView& actual,
                                          double tolerance) {
    for (int p = 0; p < 3; ++p)
        for (std::size_t i = 0; i < expected.planes[p].size(); ++i) {
            const int w = p ? expected.width / 2 : expected.width, x = i % w, y = i / w;
            const double want = std::clamp(expected.planes[p][i], 0.0, 1023.0);
            if (const int got = sampleAt(actual, p, x, y); std::abs(got - want) > tolerance)
                return ::testing::AssertionFailure()
                       << "plane " << p << " at (" << x << ", " << y << "): " << got << " where "
                       << want << " was expected";
        }
    return ::testing::AssertionSuccess();
}

} // namespace vantrel::test
