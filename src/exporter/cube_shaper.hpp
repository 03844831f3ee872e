#pragma once
// A .cube file may put a per-channel 1D "shaper" in front of its 3D cube, or
// give its cube an input range other than 0 to 1. The grade takes one cube
// only, so the parser bakes such a file into one cube by sampling the composite
// at every grid point. Internal to the exporter layer (and its tests). Pure
// functions, safe from any thread.
//
// The composite of an input R′G′B′, channel by channel c:
// - without a shaper y = x; with one, t = (x − shaper.min) / (shaper.max −
//   shaper.min), limited to [0, 1] (NaN read as 0), and the shaper's n rows are
//   interpolated linearly at t·(n − 1): y = its column c there;
// - u = (y − cube.min) / (cube.max − cube.min), limited to [0, 1], NaN read as 0;
// then the cube is interpolated trilinearly at (u_r, u_g, u_b) between its entries,
// each read as the colour cube reads it (NaN as 0, magnitudes limited to 2^16).
//
// The baked cube holds the composite exactly (to float rounding) at its grid
// points; between them its trilinear interpolation approximates the composite.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/cube_lut.hpp"

namespace vantrel::shaper {

using InputRange = LutRange;
using Ranges = std::array<InputRange, 3>; // red, green, blue

struct ShapedCube {
    std::span<const float> shaper; // n ≥ 2 rows of three floats (r, g, b); empty: no shaper
    Ranges shaperRange;
    std::span<const float> cube; // N³ entries of three floats, red fastest
    std::int64_t cubeSize = 0;   // N ≥ 2
    Ranges cubeRange;
};

// Largest difference between a baked cube's interpolation and the composite that
// bake() accepts: half a 10-bit code.
inline constexpr double bakeTolerance = 0.5 / 1023;

struct BakedCube {
    std::int64_t size = 0;
    std::vector<float> rgb; // size³ entries of three floats, red fastest
    // The largest difference bake() found between this cube's interpolation and
    // the composite, over a fixed set of sample points.
    double sampledError = 0;
};

// The composite at one input, in double precision.
std::array<double, 3> evaluate(const ShapedCube& shaped, std::array<double, 3> rgb);

// The smallest cube of N, 33 or 65 points (never fewer than N) whose sampled error
// is within bakeTolerance, the largest of them when none is, with its grid over
// `input` (min < max) on every axis.
BakedCube bake(const ShapedCube& shaped, InputRange input = {});

} // namespace vantrel::shaper
