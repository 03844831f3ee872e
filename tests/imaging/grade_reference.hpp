#pragma once
// The whole grade evaluated in double precision from its definition, written
// apart from the kernels and the fitter: source codes → R′G′B′ (the source's
// matrix and range, chroma rebuilt linearly at its siting) → trilinear cube →
// BT.709 full-range 10-bit Y′ per pixel and left-sited Cb, Cr per 2×2 block.

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "core/picture.hpp"

namespace vantrel::test {

using Rgb = std::array<double, 3>;
using Codes = std::function<int(int plane, int x, int y)>;

struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels; // row by row
    Rgb& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
    const Rgb& at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

struct YCbCrFormat {
    int bitDepth = 8;
    int shiftX = 1;
    int shiftY = 1;
    Range range = Range::limited;
    Matrix matrix = Matrix::bt709; // bt709, smpte170m or bt2020ncl
    ChromaSiting siting = ChromaSiting::left;
};

// Chroma of one plane at luma (x, y): the chroma samples sit at luma positions
// 2^shift·j + offset; between two of them the value is linear, beyond the outer
// ones it is the outer sample's.
inline double rebuiltChroma(const YCbCrFormat& f, const Codes& code, int plane, int width,
                            int height, int x, int y) {
    using S = ChromaSiting;
    const auto position = [](int at, int shift, double offset) {
        return (at - offset * ((1 << shift) - 1)) / (1 << shift);
    };
    const bool centredX = f.siting == S::centre || f.siting == S::top || f.siting == S::bottom;
    const double offsetY = f.siting == S::topLeft || f.siting == S::top         ? 0.0
                           : f.siting == S::bottomLeft || f.siting == S::bottom ? 1.0
                                                                                : 0.5;
    const double u = position(x, f.shiftX, centredX ? 0.5 : 0.0);
    const double v = position(y, f.shiftY, offsetY);
    const int columns = (width + (1 << f.shiftX) - 1) >> f.shiftX;
    const int rows = (height + (1 << f.shiftY) - 1) >> f.shiftY;
    const auto sample = [&](int cx, int cy) {
        return double(code(plane, std::clamp(cx, 0, columns - 1), std::clamp(cy, 0, rows - 1)));
    };
    const int cx = int(std::floor(u)), cy = int(std::floor(v));
    const double fx = u - cx, fy = v - cy;
    return (1 - fy) * ((1 - fx) * sample(cx, cy) + fx * sample(cx + 1, cy)) +
           fy * ((1 - fx) * sample(cx, cy + 1) + fx * sample(cx + 1, cy + 1));
}

inline RgbPicture decodeYCbCr(const YCbCrFormat& f, int width, int height, const Codes& code) {
    const auto [kr, kb] = f.matrix == Matrix::smpte170m   ? std::pair{0.299, 0.114}
                          : f.matrix == Matrix::bt2020ncl ? std::pair{0.2627, 0.0593}
                                                          : std::pair{0.2126, 0.0722};
    const double unit = std::ldexp(1.0, f.bitDepth - 8), top = std::ldexp(1.0, f.bitDepth) - 1;
    const bool limited = f.range == Range::limited;
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

// Trilinear interpolation of an n³ RGB cube (red fastest) at a colour limited
// to [0, 1]. Entries read as documented: NaN as 0, magnitudes beyond 2^16 as ±2^16.
inline Rgb lookup(const std::vector<float>& cube, Rgb c) {
    const int n = static_cast<int>(std::lround(std::cbrt(cube.size() / 3)));
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
            const double entry = std::isnan(cube[3 * at + k]) ? 0 : cube[3 * at + k];
            out[k] += weight * std::clamp(entry, -65536.0, 65536.0);
        }
    }
    return out;
}

inline // n³ RGB entries, red fastest: the identity, or scattered values in [-0.2, 1.2].
    std::vector<float>
    cube(int n, bool identity) {
    std::vector<float> rgb(3 * n * n * n);
    for (int i = 0; i < 3 * n * n * n; ++i)
        rgb[i] = identity ? i / 3 / std::array{1, n, n * n}[i % 3] % n / (n - 1.0f)
                          : 0.5f + 0.7f * std::sin(i * 12.9898f);
    return rgb;
}

// Output code values before rounding and limiting.
struct Expected {
    int width = 0;
    int height = 0;
    std::vector<double> planes[3];
    double at(int p, int x, int y) const {
        return planes[p][std::size_t(y) * (p ? width / 2 : width) + x];
    }
};

inline Expected encode(const RgbPicture& in, const std::vector<float>* cube) {
    const int w = in.width, h = in.height;
    Expected out{w, h, {}};
    out.planes[0].resize(std::size_t(w) * h);
    out.planes[1].resize(std::size_t(w / 2) * (h / 2));
    out.planes[2].resize(out.planes[1].size());
    std::vector<double> diffB(out.planes[0].size()), diffR(out.planes[0].size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = cube ? lookup(*cube, in.at(x, y)) : in.at(x, y);
            const double luma = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
            const std::size_t i = std::size_t(y) * w + x;
            out.planes[0][i] = 1023 * luma;
            diffB[i] = 1023 * (c[2] - luma) / 1.8556;
            diffR[i] = 1023 * (c[0] - luma) / 1.5748;
        }
    // Co-sited with the even columns: taps ¼ ½ ¼ across, the row pair's mean down.
    for (int by = 0; by < h / 2; ++by)
        for (int bx = 0; bx < w / 2; ++bx) {
            double cb = 0, cr = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const std::size_t i = std::size_t(2 * by + dy) * w + std::max(2 * bx + dx, 0);
                    const double weight = (dx == 0 ? 0.5 : 0.25) / 2;
                    cb += weight * diffB[i];
                    cr += weight * diffR[i];
                }
            out.planes[1][std::size_t(by) * (w / 2) + bx] = 512 + cb;
            out.planes[2][std::size_t(by) * (w / 2) + bx] = 512 + cr;
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

inline int codeAt(const PictureView& view, int p, int x, int y) {
    const std::uint8_t* at = view.planes[p].data + y * view.planes[p].stride + 2 * x;
    return at[0] | at[1] << 8;
}

// Every output code within `tolerance` of the expected value, limited to the
// code range; reports the first miss with its place.
inline ::testing::AssertionResult matches(const Expected& expected, const PictureView& actual,
                                          double tolerance) {
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < (p ? expected.height / 2 : expected.height); ++y)
            for (int x = 0; x < (p ? expected.width / 2 : expected.width); ++x) {
                const double want = std::clamp(expected.at(p, x, y), 0.0, 1023.0);
                const int got = codeAt(actual, p, x, y);
                if (std::abs(got - want) > tolerance)
                    return ::testing::AssertionFailure()
                           << "plane " << p << " at (" << x << ", " << y << "): " << got
                           << " where " << want << " was expected";
            }
    return ::testing::AssertionSuccess();
}

} // namespace vantrel::test
