// The grading kernel for AVX2 + FMA: eight pixels of two rows per step, the same
// arithmetic as the scalar reference in grade_kernel.cpp.

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/grade_kernel.hpp"

namespace vantrel::imaging::kernel {

namespace {

struct Constants {
    explicit Constants(const GradeJob& job)
        : lumaScale(_mm256_set1_ps(job.lumaScale)), lumaOffset(_mm256_set1_ps(job.lumaOffset)),
          chromaScale(_mm256_set1_ps(job.chromaScale)),
          chromaOffset(_mm256_set1_ps(job.chromaOffset)), crToR(_mm256_set1_ps(job.crToR)),
          cbToG(_mm256_set1_ps(job.cbToG)), crToG(_mm256_set1_ps(job.crToG)),
          cbToB(_mm256_set1_ps(job.cbToB)) {
        if (!job.cube)
            return;
        const auto n = static_cast<std::int32_t>(job.cube->size());
        lattice = job.cube->rgbx();
        top = _mm256_set1_ps(static_cast<float>(n - 1));
        topCell = _mm256_set1_ps(static_cast<float>(n - 2));
        stepG = 4 * n;
        stepB = 4 * n * n;
        stepsG = _mm256_set1_epi32(stepG);
        stepsB = _mm256_set1_epi32(stepB);
    }

    __m256 lumaScale;
    __m256 lumaOffset;
    __m256 chromaScale;
    __m256 chromaOffset;
    __m256 crToR;
    __m256 cbToG;
    __m256 crToG;
    __m256 cbToB;

    const float* lattice = nullptr; // RGBx entries; null without a cube
    __m256 top{};                   // N − 1
    __m256 topCell{};               // N − 2
    std::int32_t stepG = 0;         // floats between green neighbours
    std::int32_t stepB = 0;         // floats between blue neighbours
    __m256i stepsG{};
    __m256i stepsB{};
};

__m256 load8(const std::uint8_t* p) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
}

__m256 load8(const std::uint16_t* p) {
    const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(words));
}

// Four samples, each for two neighbouring columns.
__m256 load4Twice(const std::uint8_t* p) {
    std::int32_t bytes;
    std::memcpy(&bytes, p, sizeof bytes);
    const __m256i wide = _mm256_cvtepu8_epi32(_mm_cvtsi32_si128(bytes));
    return _mm256_cvtepi32_ps(
        _mm256_permutevar8x32_epi32(wide, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3)));
}

__m256 load4Twice(const std::uint16_t* p) {
    const __m128i words = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m256i wide = _mm256_cvtepu16_epi32(words);
    return _mm256_cvtepi32_ps(
        _mm256_permutevar8x32_epi32(wide, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3)));
}

template <typename Sample, int shiftX> __m256 loadChroma(const Sample* p) {
    if constexpr (shiftX == 1)
        return load4Twice(p);
    else
        return load8(p);
}

// Rounded, limited codes as eight 16-bit lanes.
__m128i toCodes(__m256 v) {
    // max returns its second operand when either is NaN: NaN becomes 0.
    v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(outMaxCode));
    const __m256i codes = _mm256_cvtps_epi32(v);
    return _mm_packus_epi32(_mm256_castsi256_si128(codes), _mm256_extracti128_si256(codes, 1));
}

__m256i cellOf(const Constants& k, __m256 v, __m256& high) {
    v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
    v = _mm256_mul_ps(v, k.top);
    const __m256 cell = _mm256_min_ps(_mm256_floor_ps(v), k.topCell);
    high = _mm256_sub_ps(v, cell);
    return _mm256_cvttps_epi32(cell);
}

// Gathers are slow next to plain loads, so the cells' corners are read pixel by
// pixel: one 256-bit load holds a grid point and its red neighbour, four loads
// the whole cell.
void lookup(const Constants& k, __m256& r, __m256& g, __m256& b) {
    const __m256 one = _mm256_set1_ps(1.0f);
    __m256 highR, highG, highB;
    const __m256i cellR = cellOf(k, r, highR);
    const __m256i cellG = cellOf(k, g, highG);
    const __m256i cellB = cellOf(k, b, highB);
    const __m256i offsets = _mm256_add_epi32(
        _mm256_slli_epi32(cellR, 2),
        _mm256_add_epi32(_mm256_mullo_epi32(cellG, k.stepsG), _mm256_mullo_epi32(cellB, k.stepsB)));

    alignas(32) std::int32_t offset[8];
    alignas(32) float weight[6][8]; // low, high for red, green, blue
    _mm256_store_si256(reinterpret_cast<__m256i*>(offset), offsets);
    _mm256_store_ps(weight[0], _mm256_sub_ps(one, highR));
    _mm256_store_ps(weight[1], highR);
    _mm256_store_ps(weight[2], _mm256_sub_ps(one, highG));
    _mm256_store_ps(weight[3], highG);
    _mm256_store_ps(weight[4], _mm256_sub_ps(one, highB));
    _mm256_store_ps(weight[5], highB);

    alignas(32) float rgbx[8][4];
    for (int j = 0; j < 8; ++j) {
        const float* p = k.lattice + offset[j];
        const __m256 lowB = _mm256_broadcast_ss(&weight[4][j]);
        const __m256 highBj = _mm256_broadcast_ss(&weight[5][j]);
        const __m256 lowGRow = _mm256_fmadd_ps(_mm256_loadu_ps(p), lowB,
                                               _mm256_mul_ps(_mm256_loadu_ps(p + k.stepB), highBj));
        const __m256 highGRow =
            _mm256_fmadd_ps(_mm256_loadu_ps(p + k.stepG), lowB,
                            _mm256_mul_ps(_mm256_loadu_ps(p + k.stepG + k.stepB), highBj));
        const __m256 pair =
            _mm256_fmadd_ps(lowGRow, _mm256_broadcast_ss(&weight[2][j]),
                            _mm256_mul_ps(highGRow, _mm256_broadcast_ss(&weight[3][j])));
        const __m128 c = _mm_fmadd_ps(
            _mm256_castps256_ps128(pair), _mm_broadcast_ss(&weight[0][j]),
            _mm_mul_ps(_mm256_extractf128_ps(pair, 1), _mm_broadcast_ss(&weight[1][j])));
        _mm_store_ps(rgbx[j], c);
    }

    // Eight RGBx pixels back to one vector per channel.
    const __m256 p04 = _mm256_loadu2_m128(rgbx[4], rgbx[0]);
    const __m256 p15 = _mm256_loadu2_m128(rgbx[5], rgbx[1]);
    const __m256 p26 = _mm256_loadu2_m128(rgbx[6], rgbx[2]);
    const __m256 p37 = _mm256_loadu2_m128(rgbx[7], rgbx[3]);
    const __m256 rg01 = _mm256_unpacklo_ps(p04, p15);
    const __m256 bx01 = _mm256_unpackhi_ps(p04, p15);
    const __m256 rg23 = _mm256_unpacklo_ps(p26, p37);
    const __m256 bx23 = _mm256_unpackhi_ps(p26, p37);
    r = _mm256_shuffle_ps(rg01, rg23, _MM_SHUFFLE(1, 0, 1, 0));
    g = _mm256_shuffle_ps(rg01, rg23, _MM_SHUFFLE(3, 2, 3, 2));
    b = _mm256_shuffle_ps(bx01, bx23, _MM_SHUFFLE(1, 0, 1, 0));
}

// Where one step reads and writes: eight columns of two rows.
template <typename Sample> struct Step {
    const Sample* luma[2];
    const Sample* cb[2];
    const Sample* cr[2];
    std::uint16_t* outLuma[2];
    std::uint16_t* outCb;
    std::uint16_t* outCr;

    void advance(int shiftX) {
        for (int row = 0; row < 2; ++row) {
            luma[row] += 8;
            cb[row] += 8 >> shiftX;
            cr[row] += 8 >> shiftX;
            outLuma[row] += 8;
        }
        outCb += 4;
        outCr += 4;
    }
};

template <typename Sample, int shiftX> void gradeStep(const Constants& k, const Step<Sample>& at) {
    const __m256 kr = _mm256_set1_ps(outKr);
    const __m256 kb = _mm256_set1_ps(outKb);
    __m256 sumB = _mm256_setzero_ps(); // B′ − Y′ down each column
    __m256 sumR = _mm256_setzero_ps(); // R′ − Y′
    for (int row = 0; row < 2; ++row) {
        const __m256 luma = _mm256_fmadd_ps(load8(at.luma[row]), k.lumaScale, k.lumaOffset);
        const __m256 cb =
            _mm256_fmadd_ps(loadChroma<Sample, shiftX>(at.cb[row]), k.chromaScale, k.chromaOffset);
        const __m256 cr =
            _mm256_fmadd_ps(loadChroma<Sample, shiftX>(at.cr[row]), k.chromaScale, k.chromaOffset);
        __m256 r = _mm256_fmadd_ps(cr, k.crToR, luma);
        __m256 g = _mm256_fmadd_ps(cb, k.cbToG, _mm256_fmadd_ps(cr, k.crToG, luma));
        __m256 b = _mm256_fmadd_ps(cb, k.cbToB, luma);
        if (k.lattice)
            lookup(k, r, g, b);

        const __m256 yp =
            _mm256_fmadd_ps(kr, _mm256_sub_ps(r, g), _mm256_fmadd_ps(kb, _mm256_sub_ps(b, g), g));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at.outLuma[row]),
                         toCodes(_mm256_mul_ps(yp, _mm256_set1_ps(outLumaScale))));
        sumB = _mm256_add_ps(sumB, _mm256_sub_ps(b, yp));
        sumR = _mm256_add_ps(sumR, _mm256_sub_ps(r, yp));
    }

    // Neighbouring columns summed: B01 B23 R01 R23 | B45 B67 R45 R67, then
    // reordered to the four Cb blocks followed by the four Cr blocks.
    const __m256 blocks = _mm256_permutevar8x32_ps(_mm256_hadd_ps(sumB, sumR),
                                                   _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
    const float cbMean = outCbScale * 0.25f;
    const float crMean = outCrScale * 0.25f;
    const __m256 scale =
        _mm256_setr_ps(cbMean, cbMean, cbMean, cbMean, crMean, crMean, crMean, crMean);
    const __m128i chroma = toCodes(_mm256_fmadd_ps(blocks, scale, _mm256_set1_ps(outChromaZero)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at.outCb), chroma);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at.outCr), _mm_unpackhi_epi64(chroma, chroma));
}

template <typename Sample, std::size_t n>
void padded(Sample (&to)[n], const Sample* from, int count) {
    std::copy_n(from, count, to);
    std::fill(to + count, to + n, from[count - 1]);
}

// The last 2, 4 or 6 columns: the same step on copies padded to eight columns.
template <typename Sample, int shiftX>
void gradeTail(const Constants& k, const Step<Sample>& at, int columns) {
    alignas(16) Sample luma[2][8];
    alignas(16) Sample cb[2][8];
    alignas(16) Sample cr[2][8];
    alignas(16) std::uint16_t outLuma[2][8];
    alignas(16) std::uint16_t outChroma[2][4];
    const int chromaColumns = columns >> shiftX;
    Step<Sample> scratch{};
    for (int row = 0; row < 2; ++row) {
        padded(luma[row], at.luma[row], columns);
        padded(cb[row], at.cb[row], chromaColumns);
        padded(cr[row], at.cr[row], chromaColumns);
        scratch.luma[row] = luma[row];
        scratch.cb[row] = cb[row];
        scratch.cr[row] = cr[row];
        scratch.outLuma[row] = outLuma[row];
    }
    scratch.outCb = outChroma[0];
    scratch.outCr = outChroma[1];
    gradeStep<Sample, shiftX>(k, scratch);

    for (int row = 0; row < 2; ++row)
        std::memcpy(at.outLuma[row], outLuma[row], columns * sizeof(std::uint16_t));
    std::memcpy(at.outCb, outChroma[0], columns / 2 * sizeof(std::uint16_t));
    std::memcpy(at.outCr, outChroma[1], columns / 2 * sizeof(std::uint16_t));
}

template <typename Sample> const Sample* row(const media::Plane& plane, int y) {
    return reinterpret_cast<const Sample*>(plane.data + y * plane.stride);
}

std::uint16_t* outRow(const media::Plane& plane, int y) {
    return reinterpret_cast<std::uint16_t*>(plane.data + y * plane.stride);
}

template <typename Sample, int shiftX>
void gradeRows(const GradeJob& job, int rowBegin, int rowEnd) {
    const Constants k(job);
    const media::PictureView& src = job.source;
    const media::PictureView& dst = job.target;
    for (int y = rowBegin; y < rowEnd; y += 2) {
        Step<Sample> at{};
        for (int r = 0; r < 2; ++r) {
            const int chromaRow = (y + r) >> src.chromaShiftY;
            at.luma[r] = row<Sample>(src.planes[0], y + r);
            at.cb[r] = row<Sample>(src.planes[1], chromaRow);
            at.cr[r] = row<Sample>(src.planes[2], chromaRow);
            at.outLuma[r] = outRow(dst.planes[0], y + r);
        }
        at.outCb = outRow(dst.planes[1], y / 2);
        at.outCr = outRow(dst.planes[2], y / 2);

        int x = 0;
        for (; x + 8 <= job.width; x += 8) {
            gradeStep<Sample, shiftX>(k, at);
            at.advance(shiftX);
        }
        if (x < job.width)
            gradeTail<Sample, shiftX>(k, at, job.width - x);
    }
}

} // namespace

void gradeRowsAvx2(const GradeJob& job, int rowBegin, int rowEnd) {
    const bool bytes = job.source.bitDepth == 8;
    const bool halfWidthChroma = job.source.chromaShiftX == 1;
    if (bytes && halfWidthChroma)
        gradeRows<std::uint8_t, 1>(job, rowBegin, rowEnd);
    else if (bytes)
        gradeRows<std::uint8_t, 0>(job, rowBegin, rowEnd);
    else if (halfWidthChroma)
        gradeRows<std::uint16_t, 1>(job, rowBegin, rowEnd);
    else
        gradeRows<std::uint16_t, 0>(job, rowBegin, rowEnd);
}

} // namespace vantrel::imaging::kernel
