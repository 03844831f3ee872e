#pragma once
// A cube looked up in double precision from its definition, apart from the
// kernels and from the parser's own baking; needs no codec library.

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/grade_options.hpp"

namespace vantrel::test {

using Rgb = std::array<double, 3>;

// The inputs a cube's grid spans on every axis.
struct InputRange {
    double min = 0, max = 1;
};

// An n³ RGB cube (red fastest) over `range`, at a colour limited to it, mixed
// with the colour itself by the strength. Entries read as documented: NaN as 0,
// magnitudes beyond 2^16 as ±2^16. A corner's tetrahedral weight is the
// smallest fraction of the components it steps up in less the largest of the
// others (1 and 0 for none), where that is positive.
inline Rgb lookup(const std::vector<float>& cube, Rgb c, GradeOptions options = {},
                  InputRange range = {}) {
    const int n = static_cast<int>(std::lround(std::cbrt(cube.size() / 3)));
    Rgb out{};
    for (int corner = 0; corner < 8; ++corner) {
        double weight = 1, up = 1, down = 0;
        std::size_t at = 0;
        for (int k = 2; k >= 0; --k) {
            const double unit = (c[k] - range.min) / (range.max - range.min);
            const double x = std::clamp(unit, 0.0, 1.0) * (n - 1);
            const int low = std::min(static_cast<int>(x), n - 2), cell = low + (corner >> k & 1);
            weight *= 1 - std::abs(x - cell);
            (corner >> k & 1) ? up = std::min(up, x - low) : down = std::max(down, x - low);
            at = at * n + cell;
        }
        if (options.interpolation == Interpolation::tetrahedral)
            weight = std::max(0.0, up - down);
        for (int k = 0; k < 3; ++k) {
            const double entry = std::isnan(cube[3 * at + k]) ? 0 : cube[3 * at + k];
            out[k] += weight * std::clamp(entry, -65536.0, 65536.0);
        }
    }
    for (int k = 0; k < 3; ++k)
        out[k] = c[k] + options.strength * (out[k] - c[k]);
    return out;
}

} // namespace vantrel::test
