#include "imaging/grade_kernel.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "core/error.hpp"
#include "imaging/chroma.hpp"

namespace vantrel::imaging::kernel {

namespace {

template <typename Sample> Sample sampleAt(const Plane& plane, int x, int y) {
    Sample value;
    std::memcpy(&value, plane.data + y * plane.stride + x * std::ptrdiff_t{sizeof(Sample)},
                sizeof value);
    return value;
}

void storeCode(const Plane& plane, int x, int y, std::uint16_t code) {
    std::memcpy(plane.data + y * plane.stride + 2 * std::ptrdiff_t{x}, &code, sizeof code);
}

struct Rgb {
    float r;
    float g;
    float b;
};

// A component's lower grid cell and the weights of its two ends. The top cell
// is N − 2 with weight 1 on its upper end, so a lookup never reads past the grid.
struct Cell {
    std::ptrdiff_t index;
    float low;
    float high;
};

Cell cellOf(float value, int top) {
    const float x = std::min(std::max(value, 0.0f), 1.0f) * static_cast<float>(top);
    const int cell = std::min(static_cast<int>(x), top - 1); // x ≥ 0: truncation is floor
    const float high = x - static_cast<float>(cell);
    return {cell, 1.0f - high, high};
}

// The cell around a colour: its corner c(0, 0, 0) and the steps to its red,
// green and blue neighbours, in floats.
struct CellOf {
    const float* corner;
    std::ptrdiff_t stepR, stepG, stepB;
    Cell r, g, b;
};

CellOf cellAround(const PackedCube& cube, Rgb in) {
    const auto n = static_cast<int>(cube.size());
    const Cell r = cellOf(in.r, n - 1);
    const Cell g = cellOf(in.g, n - 1);
    const Cell b = cellOf(in.b, n - 1);
    const std::ptrdiff_t stepG = 3 * std::ptrdiff_t{n};
    const std::ptrdiff_t stepB = stepG * n;
    return {cube.rgb() + 3 * r.index + stepG * g.index + stepB * b.index, 3, stepG, stepB, r, g, b};
}

// Interpolates along blue, then green, then red: the vector kernel's order.
Rgb trilinear(const PackedCube& cube, Rgb in) {
    // Named, not bound: a lambda may not capture structured bindings before clang 16.
    const CellOf cell = cellAround(cube, in);
    const float* p = cell.corner;
    const std::ptrdiff_t stepR = cell.stepR, stepG = cell.stepG, stepB = cell.stepB;
    const Cell &r = cell.r, &g = cell.g, &b = cell.b;
    float out[3];
    for (int c = 0; c < 3; ++c) {
        auto alongB = [&](std::ptrdiff_t at) {
            return p[at + c] * b.low + p[at + stepB + c] * b.high;
        };
        const float lowR = alongB(0) * g.low + alongB(stepG) * g.high;
        const float highR = alongB(stepR) * g.low + alongB(stepG + stepR) * g.high;
        out[c] = lowR * r.low + highR * r.high;
    }
    return {out[0], out[1], out[2]};
}

// The comparisons are the vector kernels' (their masks pick the same corners).
Rgb tetrahedral(const PackedCube& cube, Rgb in) {
    const auto [p, stepR, stepG, stepB, r, g, b] = cellAround(cube, in);
    const float fr = r.high, fg = g.high, fb = b.high;
    // The largest fraction's step, then the smallest's.
    std::ptrdiff_t first, last;
    if (fr > fg) {
        first = fr > fb ? stepR : stepB;
        last = fg > fb ? stepB : stepG;
    } else {
        first = fb > fg ? stepB : stepG;
        last = fb > fr ? stepR : stepB;
    }
    const float f1 = std::max(std::max(fr, fg), fb);
    const float f3 = std::min(std::min(fr, fg), fb);
    const float f2 = std::max(std::min(fr, fg), std::min(std::max(fr, fg), fb));
    const std::ptrdiff_t all = stepR + stepG + stepB;
    float out[3];
    for (int c = 0; c < 3; ++c)
        out[c] = (1.0f - f1) * p[c] + (f1 - f2) * p[first + c] + (f2 - f3) * p[all - last + c] +
                 f3 * p[all + c];
    return {out[0], out[1], out[2]};
}

Rgb lookup(const GradeJob& job, Rgb source) {
    const Rgb graded = job.interpolation == Interpolation::tetrahedral
                           ? tetrahedral(*job.cube, source)
                           : trilinear(*job.cube, source);
    if (job.strength == 1.0f)
        return graded;
    // Fused, as the vector kernels mix: the same codes where rounding lands on a tie.
    const auto mix = [&job](float unit, float to) {
        const float from = std::fma(unit, job.inputSpan, job.inputMin);
        return std::fma(job.strength, to - from, from);
    };
    return {mix(source.r, graded.r), mix(source.g, graded.g), mix(source.b, graded.b)};
}

std::uint16_t toCode(float v) {
    if (!(v > 0.0f)) // NaN too
        return 0;
    // Nearest, ties to even: the rounding of the vector kernels.
    return static_cast<std::uint16_t>(std::lrint(std::min(v, outMaxCode)));
}

// Rebuilt, normalised chroma of `plane` at pixel (x, y): vertical taps first,
// as the vector kernel does.
template <typename Sample> float chromaAt(const GradeJob& job, int plane, int x, int y) {
    const PictureView& src = job.source;
    const ChromaTaps across =
        chromaTaps(x, src.chromaShiftX, src.colour.siting, false, job.chromaWidth);
    const ChromaTaps down =
        chromaTaps(y, src.chromaShiftY, src.colour.siting, true, job.chromaHeight);
    const auto column = [&](int cx) {
        const float top = sampleAt<Sample>(src.planes[plane], cx, down.first);
        const float bottom = sampleAt<Sample>(src.planes[plane], cx, down.second);
        return top + (bottom - top) * down.weight;
    };
    const float left = column(across.first);
    const float value = left + (column(across.second) - left) * across.weight;
    return value * job.chromaScale + job.chromaOffset;
}

template <typename Sample> void gradeRowsScalar(const GradeJob& job, int rowBegin, int rowEnd) {
    const PictureView& src = job.source;
    const PictureView& dst = job.target;
    // B′ − Y′ and R′ − Y′ of each column, summed over the row pair.
    std::vector<float> columnB(static_cast<std::size_t>(job.width));
    std::vector<float> columnR(static_cast<std::size_t>(job.width));
    for (int y = rowBegin; y < rowEnd; y += 2) {
        std::fill(columnB.begin(), columnB.end(), 0.0f);
        std::fill(columnR.begin(), columnR.end(), 0.0f);
        for (int py = y; py < y + 2; ++py) {
            for (int x = 0; x < job.width; ++x) {
                const float luma =
                    sampleAt<Sample>(src.planes[0], x, py) * job.lumaScale + job.lumaOffset;
                const float cb = chromaAt<Sample>(job, 1, x, py);
                const float cr = chromaAt<Sample>(job, 2, x, py);
                Rgb c{luma + job.crToR * cr, luma + job.cbToG * cb + job.crToG * cr,
                      luma + job.cbToB * cb};
                if (job.cube)
                    c = lookup(job, c);

                // Written around G′ so that greys come out exactly.
                const float yp = c.g + outKb * (c.b - c.g) + outKr * (c.r - c.g);
                storeCode(dst.planes[0], x, py, toCode(yp * outLumaScale));
                columnB[x] += c.b - yp;
                columnR[x] += c.r - yp;
            }
        }
        for (int x = 0; x < job.width; x += 2) {
            const int before = std::max(x - 1, 0);
            const auto filtered = [&](const std::vector<float>& column) {
                return column[before] + 2.0f * column[x] + column[x + 1];
            };
            const float cb = filtered(columnB) * (outCbScale * 0.125f) + outChromaZero;
            const float cr = filtered(columnR) * (outCrScale * 0.125f) + outChromaZero;
            storeCode(dst.planes[1], x / 2, y / 2, toCode(cb));
            storeCode(dst.planes[2], x / 2, y / 2, toCode(cr));
        }
    }
}

void gradeRowsScalar(const GradeJob& job, int rowBegin, int rowEnd) {
    if (job.source.bitDepth == 8)
        gradeRowsScalar<std::uint8_t>(job, rowBegin, rowEnd);
    else
        gradeRowsScalar<std::uint16_t>(job, rowBegin, rowEnd);
}

#if defined(__x86_64__)
// The instruction sets each vector kernel needs that this CPU lacks, or none.
std::string missingFor(Kind kind) {
    __builtin_cpu_init();
    std::string missing;
    const auto need = [&](bool has, const char* name) {
        if (!has)
            missing += missing.empty() ? name : std::string(", ") + name;
    };
    need(__builtin_cpu_supports("avx2"), "AVX2");
    need(__builtin_cpu_supports("fma"), "FMA");
    if (kind == Kind::avx512) {
        need(__builtin_cpu_supports("avx512f"), "AVX-512F");
        need(__builtin_cpu_supports("avx512bw"), "AVX-512BW");
        need(__builtin_cpu_supports("avx512dq"), "AVX-512DQ");
        need(__builtin_cpu_supports("avx512vl"), "AVX-512VL");
    }
    return missing;
}
#else
std::string missingFor(Kind) {
    return "vector kernels for x86-64 (this build targets another processor)";
}
#endif

[[noreturn]] void refuse(const std::string& detail) {
    throw Error("imaging", 1, "The picture cannot be rendered into that buffer.", detail);
}

void checkRender(const PictureView& source, const PictureView& target) {
    if (target.width < 0 || target.height < 0 || target.width % 2 != 0 || target.height % 2 != 0)
        refuse(fmt::format("a {}x{} buffer does not have even sides", target.width, target.height));
    if (target.bitDepth != 10 || target.chromaShiftX != 1 || target.chromaShiftY != 1)
        refuse("the buffer is not 10-bit 4:2:0");
    if (source.bitDepth < 8 || source.bitDepth > 16)
        refuse(fmt::format("{}-bit samples are not supported", source.bitDepth));
    const auto shiftOk = [](int shift) { return shift == 0 || shift == 1; };
    if (!shiftOk(source.chromaShiftX) || !shiftOk(source.chromaShiftY))
        refuse("the picture's chroma subsampling is not supported");
    if (source.width < target.width || source.height < target.height)
        refuse(fmt::format("a {}x{} picture does not cover the {}x{} buffer", source.width,
                           source.height, target.width, target.height));
    for (int p = 0; p < 3; ++p) {
        if (!source.planes[p].data || !target.planes[p].data)
            refuse("a plane has no samples");
    }
}

} // namespace

GradeJob makeGradeJob(const PictureView& source, const PictureView& target, const PackedCube* cube,
                      const GradeOptions& options) {
    GradeJob job;
    job.source = source;
    job.target = target;
    job.width = target.width;
    // At strength 0 the source is the result: the conversion alone gives it exactly.
    job.cube = options.strength > 0.0 ? cube : nullptr;
    job.interpolation = options.interpolation;
    job.strength = static_cast<float>(options.strength);
    job.chromaWidth = (source.width + (1 << source.chromaShiftX) - 1) >> source.chromaShiftX;
    job.chromaHeight = (source.height + (1 << source.chromaShiftY) - 1) >> source.chromaShiftY;

    const CodeRange codes = codeRange(resolvedRange(source.colour.range), source.bitDepth);
    // A cube over inputs other than 0 to 1 is reached by decoding straight to its
    // grid's unit: (R′ − min)/(max − min) is the same multiply-add of the codes with
    // every coefficient divided by the span, so the lookups need not know; only a
    // mix with the source takes it back to R′ (inputSpan, inputMin). For 0 to 1
    // nothing changes. The chroma zero codes are powers of two, so the rounded
    // chroma offset is exactly −zero·scale and decodes to exactly 0: greys stay
    // grey all the way through.
    const double low = job.cube ? job.cube->inputMin() : 0.0;
    const double span = job.cube ? job.cube->inputMax() - low : 1.0;
    job.inputMin = static_cast<float>(low);
    job.inputSpan = static_cast<float>(span);
    job.lumaScale = static_cast<float>(1.0 / codes.lumaSpan / span);
    job.lumaOffset = static_cast<float>((-codes.lumaZero / codes.lumaSpan - low) / span);
    job.chromaScale = static_cast<float>(1.0 / codes.chromaSpan / span);
    job.chromaOffset = static_cast<float>(-codes.chromaZero / codes.chromaSpan / span);

    const auto [kr, kb] = lumaCoefficients(resolvedMatrix(source.colour.matrix, source.height));
    const double kg = 1.0 - kr - kb;
    job.crToR = static_cast<float>(2.0 * (1.0 - kr));
    job.cbToB = static_cast<float>(2.0 * (1.0 - kb));
    job.cbToG = static_cast<float>(-2.0 * kb * (1.0 - kb) / kg);
    job.crToG = static_cast<float>(-2.0 * kr * (1.0 - kr) / kg);
    return job;
}

void requireValidStrength(double strength) {
    if (!validStrength(strength))
        throw Error("imaging", 4, "The grade's strength is not supported.",
                    fmt::format("a strength of {}; it must be 0 to 1", strength));
}

std::string_view nameOf(Kind kind) {
    switch (kind) {
    case Kind::scalar:
        return "scalar";
    case Kind::avx2:
        return "avx2";
    case Kind::avx512:
        return "avx512";
    }
    return "scalar";
}

GradeRows kernel(Kind kind) {
    if (kind == Kind::scalar)
        return &gradeRowsScalar;
    if (!missingFor(kind).empty())
        return nullptr;
#if defined(__x86_64__)
    return kind == Kind::avx2 ? &gradeRowsAvx2 : &gradeRowsAvx512;
#else
    return nullptr;
#endif
}

GradeRows kernelNamed(const char* name) {
    if (!name || !*name) {
        for (const Kind kind : {Kind::avx512, Kind::avx2})
            if (const GradeRows fast = kernel(kind))
                return fast;
        return kernel(Kind::scalar);
    }
    const char* const reason = "The grading kernel that VANTREL_KERNEL names cannot run here.";
    for (const Kind kind : {Kind::scalar, Kind::avx2, Kind::avx512}) {
        if (nameOf(kind) != name)
            continue;
        if (const GradeRows named = kernel(kind))
            return named;
        throw Error("imaging", 2, reason, fmt::format("{} needs {}", name, missingFor(kind)));
    }
    throw Error("imaging", 2, reason,
                fmt::format("no kernel is called \"{}\"; choose scalar, avx2 or avx512", name));
}

GradeRows chosenKernel() {
    static const GradeRows chosen = kernelNamed(std::getenv("VANTREL_KERNEL"));
    return chosen;
}

void renderWith(GradeRows kernel, const PackedCube* cube, const GradeOptions& options,
                const PictureView& source, const PictureView& target, int maxBands) {
    checkRender(source, target);
    requireValidStrength(options.strength);
    if (target.width == 0 || target.height == 0)
        return;

    const GradeJob job = makeGradeJob(source, target, cube, options);
    const int rowPairs = target.height / 2;
    const int bands = std::clamp(maxBands, 1, rowPairs);
    const auto firstRow = [&](int band) { return 2 * (rowPairs * band / bands); };

    // The calling thread takes the first band; a band whose thread cannot be
    // started is done here too.
    std::vector<std::jthread> helpers;
    helpers.reserve(static_cast<std::size_t>(bands - 1));
    for (int band = 1; band < bands; ++band) {
        try {
            helpers.emplace_back(kernel, std::cref(job), firstRow(band), firstRow(band + 1));
        } catch (const std::system_error&) {
            kernel(job, firstRow(band), firstRow(band + 1));
        }
    }
    kernel(job, 0, firstRow(1));
}

} // namespace vantrel::imaging::kernel
