#pragma once
// Pieces shared by the x86 vector kernels. Each kernel file includes this with
// its own instruction-set flags; everything here has internal linkage, so no
// copy compiled for one instruction set can stand in for another's.

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include <cstring>

#include "imaging/chroma.hpp"
#include "imaging/grade_kernel.hpp"

namespace vantrel::imaging::kernel {
namespace {

__m256 load8(const std::uint8_t* p) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
}

__m256 load8(const std::uint16_t* p) {
    const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(words));
}

// Rebuilt chroma of one source row: the two chroma rows around it blended
// (vertical taps), normalised, with one sample of the left edge before column 0
// and the right edge repeated after the last, so that the horizontal taps of any
// step are plain loads.
class ChromaRow {
public:
    explicit ChromaRow(int chromaWidth)
        : width_(chromaWidth), values_(static_cast<std::size_t>(chromaWidth + padding)) {}

    template <typename Sample>
    void fill(float scale, float offset, const Sample* top, const Sample* bottom, float weight) {
        float* out = values_.data() + 1;
        const __m256 w = _mm256_set1_ps(weight);
        const __m256 scales = _mm256_set1_ps(scale);
        const __m256 offsets = _mm256_set1_ps(offset);
        int x = 0;
        for (; x + 8 <= width_; x += 8) {
            const __m256 t = load8(top + x);
            const __m256 v = _mm256_fmadd_ps(_mm256_sub_ps(load8(bottom + x), t), w, t);
            _mm256_storeu_ps(out + x, _mm256_fmadd_ps(v, scales, offsets));
        }
        for (; x < width_; ++x) {
            const float t = top[x];
            out[x] = (t + (static_cast<float>(bottom[x]) - t) * weight) * scale + offset;
        }
        values_[0] = out[0];
        std::fill(out + width_, values_.data() + values_.size(), out[width_ - 1]);
    }
    // values()[1 + j] is chroma sample j; values()[0] repeats sample 0.
    const float* values() const { return values_.data(); }

private:
    // One before; after, the widest over-read of a sixteen-pixel step's tail.
    static constexpr int padding = 18;
    int width_;
    std::vector<float> values_;
};

// The horizontal taps of `lanes` neighbouring pixels starting at an even column
// of 2:1 subsampled chroma: which lanes of a load from chroma sample
// (column/2 − 1) each pixel blends, and the weight of the second.
template <int lanes> struct TapTable {
    explicit TapTable(ChromaSiting siting) {
        // Taken well away from the left edge, where they repeat every two columns.
        constexpr int far = 8;
        for (int lane = 0; lane < lanes; ++lane) {
            const ChromaTaps t = chromaTaps(far + lane, 1, siting, false, 1 << 20);
            first[lane] = t.first - far / 2 + 1;
            second[lane] = t.second - far / 2 + 1;
            weight[lane] = t.weight;
        }
    }
    alignas(64) std::array<std::int32_t, lanes> first;
    alignas(64) std::array<std::int32_t, lanes> second;
    alignas(64) std::array<float, lanes> weight;
};

template <typename Sample> const Sample* row(const Plane& plane, int y) {
    return reinterpret_cast<const Sample*>(plane.data + y * plane.stride);
}

std::uint16_t* outRow(const Plane& plane, int y) {
    return reinterpret_cast<std::uint16_t*>(plane.data + y * plane.stride);
}

// Walks the row pairs of [rowBegin, rowEnd): rebuilds each row's chroma, lets
// Strip grade Strip::lanes columns of the pair at a time, and grades the last
// few columns as a full strip on copies padded with the last column.
//
// Strip provides lanes, a Context made from the job, a Carry (state handed from
// one strip of a row pair to the next, reset at the row's start) and
//   grade<Sample, shiftX>(context, luma[2], chroma[plane][row], x, outLuma[2],
//                         carry, outCb, outCr)
// for the strip whose first column is x (luma and outLuma point at it).
template <typename Strip, typename Sample, int shiftX>
void gradeRowPairs(const GradeJob& job, int rowBegin, int rowEnd) {
    constexpr int lanes = Strip::lanes;
    const typename Strip::Context context(job);
    const PictureView& src = job.source;
    const PictureView& dst = job.target;
    ChromaRow chroma[2][2] = {{ChromaRow(job.chromaWidth), ChromaRow(job.chromaWidth)},
                              {ChromaRow(job.chromaWidth), ChromaRow(job.chromaWidth)}};
    for (int y = rowBegin; y < rowEnd; y += 2) {
        const Sample* luma[2];
        std::uint16_t* outLuma[2];
        for (int r = 0; r < 2; ++r) {
            const ChromaTaps down =
                chromaTaps(y + r, src.chromaShiftY, src.colour.siting, true, job.chromaHeight);
            for (int p = 0; p < 2; ++p)
                chroma[p][r].fill(job.chromaScale, job.chromaOffset,
                                  row<Sample>(src.planes[1 + p], down.first),
                                  row<Sample>(src.planes[1 + p], down.second), down.weight);
            luma[r] = row<Sample>(src.planes[0], y + r);
            outLuma[r] = outRow(dst.planes[0], y + r);
        }
        std::uint16_t* outCb = outRow(dst.planes[1], y / 2);
        std::uint16_t* outCr = outRow(dst.planes[2], y / 2);

        typename Strip::Carry carry{};
        int x = 0;
        for (; x + lanes <= job.width; x += lanes) {
            const Sample* const in[2] = {luma[0] + x, luma[1] + x};
            std::uint16_t* const out[2] = {outLuma[0] + x, outLuma[1] + x};
            Strip::template grade<Sample, shiftX>(context, in, chroma, x, out, carry, outCb + x / 2,
                                                  outCr + x / 2);
        }
        if (x == job.width)
            continue;
        const int columns = job.width - x;
        alignas(64) Sample paddedLuma[2][lanes];
        alignas(64) std::uint16_t scratchLuma[2][lanes];
        alignas(64) std::uint16_t scratchChroma[2][lanes / 2];
        for (int r = 0; r < 2; ++r) {
            std::copy_n(luma[r] + x, columns, paddedLuma[r]);
            std::fill(paddedLuma[r] + columns, paddedLuma[r] + lanes, luma[r][x + columns - 1]);
        }
        const Sample* const in[2] = {paddedLuma[0], paddedLuma[1]};
        std::uint16_t* const out[2] = {scratchLuma[0], scratchLuma[1]};
        Strip::template grade<Sample, shiftX>(context, in, chroma, x, out, carry, scratchChroma[0],
                                              scratchChroma[1]);
        for (int r = 0; r < 2; ++r)
            std::memcpy(outLuma[r] + x, scratchLuma[r], columns * sizeof(std::uint16_t));
        std::memcpy(outCb + x / 2, scratchChroma[0], columns / 2 * sizeof(std::uint16_t));
        std::memcpy(outCr + x / 2, scratchChroma[1], columns / 2 * sizeof(std::uint16_t));
    }
}

// The kernel made of Strip, for every sample size and horizontal subsampling.
template <typename Strip> void gradeRowsWith(const GradeJob& job, int rowBegin, int rowEnd) {
    const bool bytes = job.source.bitDepth == 8;
    const bool halfWidthChroma = job.source.chromaShiftX == 1;
    if (bytes && halfWidthChroma)
        gradeRowPairs<Strip, std::uint8_t, 1>(job, rowBegin, rowEnd);
    else if (bytes)
        gradeRowPairs<Strip, std::uint8_t, 0>(job, rowBegin, rowEnd);
    else if (halfWidthChroma)
        gradeRowPairs<Strip, std::uint16_t, 1>(job, rowBegin, rowEnd);
    else
        gradeRowPairs<Strip, std::uint16_t, 0>(job, rowBegin, rowEnd);
}

} // namespace
} // namespace vantrel::imaging::kernel
