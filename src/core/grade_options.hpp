#pragma once
// How a grade applies its cube: the interpolation between the cube's entries and
// how strongly the graded colour replaces the source's. Plain values, shared by
// the job, the engine and the kernels; the formulas are in
// imaging/grade_kernel.hpp.

#include <optional>
#include <string_view>

namespace vantrel {

enum class Interpolation {
    trilinear,   // the eight corners of the cell around the colour
    tetrahedral, // four corners: the tetrahedron of the cell that holds the colour
};

constexpr std::string_view nameOf(Interpolation interpolation) {
    return interpolation == Interpolation::tetrahedral ? "tetrahedral" : "trilinear";
}

// The interpolation called `name` (as nameOf spells it), or nothing.
constexpr std::optional<Interpolation> interpolationNamed(std::string_view name) {
    for (const Interpolation i : {Interpolation::trilinear, Interpolation::tetrahedral})
        if (nameOf(i) == name)
            return i;
    return std::nullopt;
}

struct GradeOptions {
    Interpolation interpolation = Interpolation::trilinear;
    // The graded R′G′B′ is source + strength·(cube(source) − source), before the
    // output conversion: 0 leaves the source as it is, 1 is the cube's grade.
    double strength = 1.0;
};

// Strengths a grade accepts: 0 to 1 (NaN is none).
constexpr bool validStrength(double strength) {
    return strength >= 0.0 && strength <= 1.0;
}

} // namespace vantrel
