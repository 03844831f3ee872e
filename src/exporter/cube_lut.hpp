#pragma once
// Reading a .cube text into a CubeLUT. Pure functions, safe from any thread; this
// file and the job parser need no codec library.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/cube_lut.hpp"
#include "core/error.hpp"

namespace vantrel {

// The most bytes of LUT text read from a file: more than a 129-point cube needs.
inline constexpr std::size_t maxLutFileBytes = std::size_t{64} << 20;

// Domain "cube"; the codes are CubeCode's.
class CubeError : public Error {
public:
    explicit CubeError(CubeCode code, std::string detail = {}) : Error(code, std::move(detail)) {}
};

// The cube a .cube text describes, or CubeError. The grammar is lenient: a line
// that is neither a keyword nor three numbers is skipped, entries are kept as read
// (beyond 0 to 1, infinite or NaN alike: the grade decides what they become), and
// what is read but not applied goes into the warnings. A 1D table (LUT_1D_SIZE,
// alone or as a shaper before the cube) and DOMAIN_MIN/DOMAIN_MAX other than 0
// and 1 are baked into the cube (see cube_shaper.hpp), over the input range
// CubeLUT::input says.
CubeLUT parseCube(std::string_view text);

} // namespace vantrel
