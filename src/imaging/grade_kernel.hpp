#pragma once
// The grading kernels behind Grade::render: read Y′CbCr samples, turn them into
// R′G′B′, look them up in the cube and write BT.709 full-range 10-bit 4:2:0.
// Internal to the imaging layer (and its tests and bench).
//
// Every kernel computes the same formula:
// - source codes are normalised with the picture's resolved range (codeRange in
//   core/colour.hpp; limited: nominal black and white at 16·2^(b−8) and
//   235·2^(b−8), chroma zero at 128·2^(b−8) with excursion 224·2^(b−8); full:
//   code / (2^b − 1), chroma zero at 2^(b−1)) and turned into R′G′B′ with the
//   resolved matrix's coefficients (lumaCoefficients);
// - subsampled chroma is rebuilt at every pixel by linear interpolation at the
//   picture's chroma siting (imaging/chroma.hpp), edges replicated;
// - with a cube, R′G′B′ is limited to the cube's input range (0 to 1 unless it
//   says otherwise, see PackedCube) and looked up between the cube's (finite)
//   entries. With fractions f = (fr, fg, fb) of the colour within its cell (cells
//   of the top row end at the last entry) and c(i, j, k) the cell's corner i
//   steps up in red, j in green, k in blue:
//   trilinear: Σ over the eight corners of c · Π per component (f or 1 − f),
//     interpolated along blue, then green, then red;
//   tetrahedral: with the components ordered so that f1 ≥ f2 ≥ f3 (e1, e2, e3
//     the unit steps of those components; ties choose either way, to the same
//     value), (1 − f1)·c(0) + (f1 − f2)·c(e1) + (f2 − f3)·c(e1 + e2) + f3·c(1, 1, 1):
//     the one of the cell's six tetrahedra around its main diagonal that holds f;
//   the looked-up L is then mixed with the source's R′G′B′ S (before limiting)
//   as S + strength·(L − S); strength 1 takes L as it is, 0 skips the cube;
// - output codes follow the full-range convention that mirrors the decode: luma
//   1023·Y′, chroma 512 + 1023·C, rounded to nearest and limited to [0, 1023], so a
//   full-range 10-bit BT.709 picture comes back with the codes it had. Output
//   chroma is left-sited, as the encoder's stream says: for the block at columns
//   2j, 2j+1 it is the mean of its two rows, filtered across columns 2j − 1, 2j,
//   2j + 1 with weights 1/4, 1/2, 1/4 (column −1 reads as column 0), rounded once.
// The kernels may differ by one code where float rounding lands on a tie.

#include <string_view>

#include "core/grade_options.hpp"
#include "core/picture.hpp"
#include "imaging/packed_cube.hpp"

namespace vantrel::imaging::kernel {

// BT.709 output, full range 10-bit.
inline constexpr float outKr = static_cast<float>(lumaCoefficients(Matrix::bt709).kr);
inline constexpr float outKb = static_cast<float>(lumaCoefficients(Matrix::bt709).kb);
inline constexpr float outLumaScale = 1023.0f;
inline constexpr float outChromaZero = 512.0f;
inline constexpr float outCbScale = 1023.0f / (2.0f * (1.0f - outKb)); // per unit of B′ − Y′
inline constexpr float outCrScale = 1023.0f / (2.0f * (1.0f - outKr)); // per unit of R′ − Y′
inline constexpr float outMaxCode = 1023.0f;

// One render, fixed before its rows are shared out.
struct GradeJob {
    PictureView source;
    PictureView target;
    int width = 0; // even
    // Chroma samples in a row and rows of chroma, counted from the source's size.
    int chromaWidth = 0;
    int chromaHeight = 0;
    // Normalised Y′ = code·lumaScale + lumaOffset, and the same for Cb and Cr;
    // with a cube, in units of its input range (0 at its min, 1 at its max).
    float lumaScale = 0;
    float lumaOffset = 0;
    float chromaScale = 0;
    float chromaOffset = 0;
    // R′ = Y′ + crToR·Cr, G′ = Y′ + cbToG·Cb + crToG·Cr, B′ = Y′ + cbToB·Cb.
    float crToR = 0;
    float cbToG = 0;
    float crToG = 0;
    float cbToB = 0;
    const PackedCube* cube = nullptr; // null: no lookup (also for strength 0)
    Interpolation interpolation = Interpolation::trilinear;
    float strength = 1; // in (0, 1]
    // R′ = normalised·inputSpan + inputMin, for the mix with the source.
    float inputSpan = 1;
    float inputMin = 0;
};

// The job for the columns of `target` (10-bit 4:2:0) from `source` (8 to 16
// bits, shifts 0 or 1); the caller has checked both, and that the strength is valid.
GradeJob makeGradeJob(const PictureView& source, const PictureView& target, const PackedCube* cube,
                      const GradeOptions& options = {});

// Throws Error (domain "imaging", code 4) unless validStrength(strength).
void requireValidStrength(double strength);

// Grades rows [rowBegin, rowEnd) of the job; both even. Different row ranges of
// one job may run at the same time.
using GradeRows = void (*)(const GradeJob& job, int rowBegin, int rowEnd);

enum class Kind { scalar, avx2, avx512 };

std::string_view nameOf(Kind kind);

// The kernel of that kind, or null when this CPU (or this build's target)
// cannot run it.
GradeRows kernel(Kind kind);
// The kernel called `name` ("scalar", "avx2", "avx512"); with no name or an
// empty one, the fastest this CPU runs. Throws Error (domain "imaging") for a
// name of no kernel, or of one this CPU cannot run (saying which instruction
// sets are missing).
GradeRows kernelNamed(const char* name);
// The kernel Grade::render uses: kernelNamed(VANTREL_KERNEL), chosen at first
// use. When it throws, the next call tries again.
GradeRows chosenKernel();

// Renders as Grade::render does, with the given kernel and at most `maxBands`
// row bands run in parallel; without a cube, the conversion alone. Throws
// Error (domain "imaging") when the pictures do not fit together or the
// strength is not valid (validStrength).
void renderWith(GradeRows kernel, const PackedCube* cube, const GradeOptions& options,
                const PictureView& source, const PictureView& target, int maxBands);

// Defined in the instruction-set files (x86-64 only); only called after the
// CPU check.
void gradeRowsAvx2(const GradeJob& job, int rowBegin, int rowEnd);
void gradeRowsAvx512(const GradeJob& job, int rowBegin, int rowEnd);

} // namespace vantrel::imaging::kernel
