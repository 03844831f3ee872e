#pragma once
// The grade: one 3D LUT applied to pictures, written as 10-bit 4:2:0 Y′CbCr.
//
// What the grade does to colour, all of it: the source's Y′CbCr is turned into
// R′G′B′ with the source's own matrix and range (as its colour description
// resolves, see core/colour.hpp), the cube is applied to those R′G′B′ values as
// decoded (still in the source's primaries and transfer: log, HLG or PQ footage
// reaches the LUT as log, HLG or PQ code values), and the result is written as
// BT.709-matrix, full-range 10-bit Y′CbCr, tagged BT.709. No colour management
// takes place: a LUT made for other input or output spaces must already
// account for them. The exact formula is in imaging/grade_kernel.hpp.
//
// Threading: a Grade is immutable once built; render() may run on several
// threads at once, each with its own destination.

#include <cstdint>
#include <memory>
#include <span>

#include "core/grade_options.hpp"
#include "core/picture.hpp"

namespace vantrel {
// core/cube_lut.hpp
struct CubeLUT;
} // namespace vantrel

namespace vantrel::imaging {

class PackedCube;

class Grade {
public:
    // The largest edge size held; the export refuses bigger cubes before
    // building a grade.
    static constexpr std::int64_t maxSize = 512;

    // The cube is repacked once, aligned. Throws Error (domain "imaging")
    // unless 2 ≤ size ≤ maxSize, rgb holds 3·size³ floats and the options'
    // strength is valid (validStrength).
    explicit Grade(const CubeLUT& cube, const GradeOptions& options = {});
    Grade(std::int64_t size, std::span<const float> rgb, const GradeOptions& options = {});
    ~Grade();
    Grade(Grade&&) noexcept;
    Grade& operator=(Grade&&) noexcept;

    std::int64_t size() const;
    const GradeOptions& options() const { return options_; }

    // Throws what the constructor throws for options it cannot apply.
    static void checkOptions(const GradeOptions& options);

    // The same cube applied with other options. The tables are shared, not
    // repacked, so this costs no more than the check. Throws what the
    // constructor throws for options it cannot apply.
    Grade withOptions(const GradeOptions& options) const;

    // Grades all of `destination` (10-bit 4:2:0, even sides) from the top-left
    // of `source` (8 to 16 bits, chroma halved at most, at least as large).
    // Large pictures are split into row bands, one of them on a helper thread;
    // every row is written when this returns. The kernel is the fastest this
    // CPU runs, or the one VANTREL_KERNEL names (scalar, avx2, avx512), read at
    // first use. Throws Error (domain "imaging") when the pictures do not fit
    // together or the named kernel cannot run here.
    void render(const PictureView& source, const PictureView& destination) const;

    // The repacked tables, for the kernels.
    const PackedCube& cube() const { return *cube_; }

private:
    Grade(std::shared_ptr<const PackedCube> cube, const GradeOptions& options);

    // Immutable, so grades that differ only in their options share it.
    std::shared_ptr<const PackedCube> cube_;
    GradeOptions options_;
};

} // namespace vantrel::imaging
