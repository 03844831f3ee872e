#include "imaging/grade_kernel.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "media/chroma_siting.hpp"
#include "media/error.hpp"

namespace vantrel::imaging::kernel {

namespace {

struct Coefficients {
    double kr;
    double kb;
};

Coefficients coefficientsOf(media::YCbCrMatrix matrix) {
    switch (matrix) {
    case media::YCbCrMatrix::bt709:
        return {0.2126, 0.0722};
    case media::YCbCrMatrix::bt601:
        return {0.299, 0.114};
    case media::YCbCrMatrix::bt2020:
        return {0.2627, 0.0593};
    }
    return {0.2126, 0.0722};
}

template <typename Sample> Sample sampleAt(const media::Plane& plane, int x, int y) {
    Sample value;
    std::memcpy(&value, plane.data + y * plane.stride + x * std::ptrdiff_t{sizeof(Sample)},
                sizeof value);
    return value;
}

void storeCode(const media::Plane& plane, int x, int y, std::uint16_t code) {
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

// Interpolates along blue, then green, then red: the vector kernel's order.
Rgb lookup(const Cube& cube, Rgb in) {
    const auto n = static_cast<int>(cube.size());
    const Cell r = cellOf(in.r, n - 1);
    const Cell g = cellOf(in.g, n - 1);
    const Cell b = cellOf(in.b, n - 1);
    const std::ptrdiff_t stepG = 3 * std::ptrdiff_t{n};
    const std::ptrdiff_t stepB = stepG * n;
    const float* p = cube.rgb() + 3 * r.index + stepG * g.index + stepB * b.index;

    float out[3];
    for (int c = 0; c < 3; ++c) {
        auto alongB = [&](std::ptrdiff_t at) {
            return p[at + c] * b.low + p[at + stepB + c] * b.high;
        };
        const float lowR = alongB(0) * g.low + alongB(stepG) * g.high;
        const float highR = alongB(3) * g.low + alongB(stepG + 3) * g.high;
        out[c] = lowR * r.low + highR * r.high;
    }
    return {out[0], out[1], out[2]};
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
    const media::PictureView& src = job.source;
    const media::ChromaTaps across =
        media::chromaTaps(x, src.chromaShiftX, src.siting, false, job.chromaWidth);
    const media::ChromaTaps down =
        media::chromaTaps(y, src.chromaShiftY, src.siting, true, job.chromaHeight);
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
    const media::PictureView& src = job.source;
    const media::PictureView& dst = job.target;
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
                    c = lookup(*job.cube, c);

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

bool cpuRunsAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

bool cpuRunsAvx512() {
    return cpuRunsAvx2() && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vl");
}

[[noreturn]] void refuse(const std::string& detail) {
    throw Error("imaging", 1, "The picture cannot be rendered into that buffer.", detail);
}

void checkRender(const media::PictureView& source, const media::PictureView& target, Rect bounds) {
    if (bounds.x != 0 || bounds.y != 0)
        refuse(fmt::format("bounds start at ({}, {}), not at the origin", bounds.x, bounds.y));
    if (bounds.width < 0 || bounds.height < 0 || bounds.width % 2 != 0 || bounds.height % 2 != 0)
        refuse(fmt::format("bounds of {}x{} do not have even sides", bounds.width, bounds.height));
    if (target.bitDepth != 10 || target.chromaShiftX != 1 || target.chromaShiftY != 1)
        refuse("the buffer is not 10-bit 4:2:0");
    if (target.width < bounds.width || target.height < bounds.height)
        refuse(fmt::format("a {}x{} buffer is smaller than the {}x{} bounds", target.width,
                           target.height, bounds.width, bounds.height));
    if (source.bitDepth < 8 || source.bitDepth > 16)
        refuse(fmt::format("{}-bit samples are not supported", source.bitDepth));
    const auto shiftOk = [](int shift) { return shift == 0 || shift == 1; };
    if (!shiftOk(source.chromaShiftX) || !shiftOk(source.chromaShiftY))
        refuse("the picture's chroma subsampling is not supported");
    if (source.width < bounds.width || source.height < bounds.height)
        refuse(fmt::format("a {}x{} picture does not cover the {}x{} bounds", source.width,
                           source.height, bounds.width, bounds.height));
    for (int p = 0; p < 3; ++p) {
        if (!source.planes[p].data || !target.planes[p].data)
            refuse("a plane has no samples");
    }
}

} // namespace

GradeJob makeGradeJob(const media::PictureView& source, const media::PictureView& target, int width,
                      const Cube* cube) {
    GradeJob job;
    job.source = source;
    job.target = target;
    job.width = width;
    job.cube = cube;
    job.chromaWidth = (source.width + (1 << source.chromaShiftX) - 1) >> source.chromaShiftX;
    job.chromaHeight = (source.height + (1 << source.chromaShiftY) - 1) >> source.chromaShiftY;

    const int bits = source.bitDepth;
    double lumaScale = 0;
    double lumaZero = 0;
    double chromaScale = 0;
    double chromaZero = 0;
    switch (source.range) {
    case media::ColourRange::limited: {
        const double unit = std::ldexp(1.0, bits - 8);
        lumaScale = 1.0 / (219.0 * unit);
        lumaZero = 16.0 * unit;
        chromaScale = 1.0 / (224.0 * unit);
        chromaZero = 128.0 * unit;
        break;
    }
    case media::ColourRange::full: {
        const double maxCode = std::ldexp(1.0, bits) - 1.0;
        lumaScale = 1.0 / maxCode;
        chromaScale = 1.0 / maxCode;
        chromaZero = std::ldexp(1.0, bits - 1);
        break;
    }
    }
    // The zero codes are powers of two, so the rounded offset is exactly −zero·scale
    // and they decode to exactly 0: greys stay grey all the way through.
    job.lumaScale = static_cast<float>(lumaScale);
    job.lumaOffset = static_cast<float>(-lumaZero * lumaScale);
    job.chromaScale = static_cast<float>(chromaScale);
    job.chromaOffset = static_cast<float>(-chromaZero * chromaScale);

    const auto [kr, kb] = coefficientsOf(source.matrix);
    const double kg = 1.0 - kr - kb;
    job.crToR = static_cast<float>(2.0 * (1.0 - kr));
    job.cbToB = static_cast<float>(2.0 * (1.0 - kb));
    job.cbToG = static_cast<float>(-2.0 * kb * (1.0 - kb) / kg);
    job.crToG = static_cast<float>(-2.0 * kr * (1.0 - kr) / kg);
    return job;
}

GradeRows kernel(Kind kind) {
    switch (kind) {
    case Kind::scalar:
        return &gradeRowsScalar;
    case Kind::avx2:
        return cpuRunsAvx2() ? &gradeRowsAvx2 : nullptr;
    case Kind::avx512:
        return cpuRunsAvx512() ? &gradeRowsAvx512 : nullptr;
    }
    return nullptr;
}

GradeRows bestKernel() {
    static const GradeRows best = [] {
        for (const Kind kind : {Kind::avx512, Kind::avx2})
            if (const GradeRows fast = kernel(kind))
                return fast;
        return kernel(Kind::scalar);
    }();
    return best;
}

void renderWith(GradeRows kernel, const Image& image, const media::PictureView& target, Rect bounds,
                int maxBands) {
    checkRender(image.picture(), target, bounds);
    if (bounds.width == 0 || bounds.height == 0)
        return;

    const GradeJob job = makeGradeJob(image.picture(), target, bounds.width, image.cube().get());
    const int rowPairs = bounds.height / 2;
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
