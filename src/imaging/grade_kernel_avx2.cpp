// The grading kernel for AVX2 + FMA: eight pixels of two rows per step, the same
// arithmetic as the scalar reference in grade_kernel.cpp.

// x86-64 only: elsewhere the build has the scalar kernel alone.
#if defined(__x86_64__)

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/grade_kernel.hpp"
#include "imaging/grade_kernel_x86.hpp"

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
        tetrahedral = job.interpolation == Interpolation::tetrahedral;
        mix = job.strength != 1.0f;
        strength = _mm256_set1_ps(job.strength);
        inputSpan = _mm256_set1_ps(job.inputSpan);
        inputMin = _mm256_set1_ps(job.inputMin);
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
    bool tetrahedral = false;
    bool mix = false; // strength below 1
    __m256 strength{};
    __m256 inputSpan{}; // the source's R′ from its normalised value, for the mix
    __m256 inputMin{};
};

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

// Where each pixel's cell (its lowest corner) starts in the lattice, and the
// colour's fractions within the cell.
[[gnu::always_inline]] inline __m256i cellOffsets(const Constants& k, __m256 r, __m256 g, __m256 b,
                                                  __m256& fr, __m256& fg, __m256& fb) {
    return _mm256_add_epi32(_mm256_slli_epi32(cellOf(k, r, fr), 2),
                            _mm256_add_epi32(_mm256_mullo_epi32(cellOf(k, g, fg), k.stepsG),
                                             _mm256_mullo_epi32(cellOf(k, b, fb), k.stepsB)));
}

// Eight RGBx pixels back to one vector per channel.
[[gnu::always_inline]] inline void toChannels(const float (&rgbx)[8][4], __m256& r, __m256& g,
                                              __m256& b) {
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

// Gathers are slow next to plain loads, so the cells' corners are read pixel by
// pixel: one 256-bit load holds a grid point and its red neighbour, four loads
// the whole cell.
[[gnu::always_inline]] inline void lookup(const Constants& k, __m256& r, __m256& g, __m256& b) {
    const __m256 one = _mm256_set1_ps(1.0f);
    __m256 highR, highG, highB;
    const __m256i offsets = cellOffsets(k, r, g, b, highR, highG, highB);

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
#pragma GCC unroll 8
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

    toChannels(rgbx, r, g, b);
}

// The four corners of each pixel's tetrahedron, one 128-bit load each, the
// corners chosen with blends rather than branches.
[[gnu::always_inline]] inline void lookupTetrahedral(const Constants& k, __m256& r, __m256& g,
                                                     __m256& b) {
    __m256 fr, fg, fb;
    const __m256i base = cellOffsets(k, r, g, b, fr, fg, fb);

    const __m256 rOverG = _mm256_cmp_ps(fr, fg, _CMP_GT_OQ);
    const __m256 rOverB = _mm256_cmp_ps(fr, fb, _CMP_GT_OQ);
    const __m256 gOverB = _mm256_cmp_ps(fg, fb, _CMP_GT_OQ);
    const __m256 bOverG = _mm256_cmp_ps(fb, fg, _CMP_GT_OQ);
    const __m256 bOverR = _mm256_cmp_ps(fb, fr, _CMP_GT_OQ);
    const auto pick = [](__m256 mask, std::int32_t ifSet, std::int32_t ifNot) {
        return _mm256_blendv_ps(_mm256_castsi256_ps(_mm256_set1_epi32(ifNot)),
                                _mm256_castsi256_ps(_mm256_set1_epi32(ifSet)), mask);
    };
    const std::int32_t stepR = 4;
    // The largest fraction's step, then the smallest's, as the scalar kernel picks them.
    const __m256i first = _mm256_castps_si256(
        _mm256_blendv_ps(pick(bOverG, k.stepB, k.stepG), pick(rOverB, stepR, k.stepB), rOverG));
    const __m256i last = _mm256_castps_si256(
        _mm256_blendv_ps(pick(bOverR, stepR, k.stepB), pick(gOverB, k.stepB, k.stepG), rOverG));
    const __m256i all = _mm256_set1_epi32(stepR + k.stepG + k.stepB);

    const __m256 f1 = _mm256_max_ps(_mm256_max_ps(fr, fg), fb);
    const __m256 f3 = _mm256_min_ps(_mm256_min_ps(fr, fg), fb);
    const __m256 f2 =
        _mm256_max_ps(_mm256_min_ps(fr, fg), _mm256_min_ps(_mm256_max_ps(fr, fg), fb));

    alignas(32) std::int32_t offset[3][8]; // c(0), c(e1), c(e1 + e2); c(1, 1, 1) is base + all
    alignas(32) float weight[4][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(offset[0]), base);
    _mm256_store_si256(reinterpret_cast<__m256i*>(offset[1]), _mm256_add_epi32(base, first));
    _mm256_store_si256(reinterpret_cast<__m256i*>(offset[2]),
                       _mm256_sub_epi32(_mm256_add_epi32(base, all), last));
    _mm256_store_ps(weight[0], _mm256_sub_ps(_mm256_set1_ps(1.0f), f1));
    _mm256_store_ps(weight[1], _mm256_sub_ps(f1, f2));
    _mm256_store_ps(weight[2], _mm256_sub_ps(f2, f3));
    _mm256_store_ps(weight[3], f3);

    const std::int32_t toLast = stepR + k.stepG + k.stepB;
    alignas(32) float rgbx[8][4];
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
        const float* p = k.lattice + offset[0][j];
        const __m128 c0 = _mm_mul_ps(_mm_load_ps(p), _mm_broadcast_ss(&weight[0][j]));
        const __m128 c1 = _mm_fmadd_ps(_mm_load_ps(k.lattice + offset[1][j]),
                                       _mm_broadcast_ss(&weight[1][j]), c0);
        const __m128 c2 = _mm_fmadd_ps(_mm_load_ps(k.lattice + offset[2][j]),
                                       _mm_broadcast_ss(&weight[2][j]), c1);
        _mm_store_ps(rgbx[j],
                     _mm_fmadd_ps(_mm_load_ps(p + toLast), _mm_broadcast_ss(&weight[3][j]), c2));
    }
    toChannels(rgbx, r, g, b);
}

// The horizontal chroma taps of eight pixels as vectors.
struct AcrossTaps {
    explicit AcrossTaps(ChromaSiting siting) {
        const TapTable<8> table(siting);
        first = _mm256_load_si256(reinterpret_cast<const __m256i*>(table.first.data()));
        second = _mm256_load_si256(reinterpret_cast<const __m256i*>(table.second.data()));
        weight = _mm256_load_ps(table.weight.data());
    }
    __m256i first;
    __m256i second;
    __m256 weight;
};

template <int shiftX> __m256 chromaAt(const AcrossTaps& taps, const float* row, int x) {
    if constexpr (shiftX == 0) {
        return _mm256_loadu_ps(row + 1 + x);
    } else {
        const __m256 samples = _mm256_loadu_ps(row + x / 2);
        const __m256 a = _mm256_permutevar8x32_ps(samples, taps.first);
        const __m256 b = _mm256_permutevar8x32_ps(samples, taps.second);
        return _mm256_fmadd_ps(_mm256_sub_ps(b, a), taps.weight, a);
    }
}

// Grades eight pixels of one row and returns B′ − Y′ and R′ − Y′ of each.
template <typename Sample, int shiftX>
void gradeEight(const Constants& k, const AcrossTaps& taps, const Sample* luma, const float* cbRow,
                const float* crRow, int x, std::uint16_t* outLuma, __m256& diffB, __m256& diffR) {
    const __m256 kr = _mm256_set1_ps(outKr);
    const __m256 kb = _mm256_set1_ps(outKb);
    const __m256 y = _mm256_fmadd_ps(load8(luma), k.lumaScale, k.lumaOffset);
    const __m256 cb = chromaAt<shiftX>(taps, cbRow, x);
    const __m256 cr = chromaAt<shiftX>(taps, crRow, x);
    __m256 r = _mm256_fmadd_ps(cr, k.crToR, y);
    __m256 g = _mm256_fmadd_ps(cb, k.cbToG, _mm256_fmadd_ps(cr, k.crToG, y));
    __m256 b = _mm256_fmadd_ps(cb, k.cbToB, y);
    if (k.lattice) {
        const __m256 sourceR = r, sourceG = g, sourceB = b;
        if (k.tetrahedral)
            lookupTetrahedral(k, r, g, b);
        else
            lookup(k, r, g, b);
        if (k.mix) {
            const auto mix = [&k](__m256 unit, __m256 to) {
                const __m256 from = _mm256_fmadd_ps(unit, k.inputSpan, k.inputMin);
                return _mm256_fmadd_ps(k.strength, _mm256_sub_ps(to, from), from);
            };
            r = mix(sourceR, r);
            g = mix(sourceG, g);
            b = mix(sourceB, b);
        }
    }

    const __m256 yp =
        _mm256_fmadd_ps(kr, _mm256_sub_ps(r, g), _mm256_fmadd_ps(kb, _mm256_sub_ps(b, g), g));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(outLuma),
                     toCodes(_mm256_mul_ps(yp, _mm256_set1_ps(outLumaScale))));
    diffB = _mm256_sub_ps(b, yp);
    diffR = _mm256_sub_ps(r, yp);
}

// Left-sited output chroma of the four blocks of eight columns, from the row
// pair's column sums. `carry` holds the sums of the previous eight columns' odd
// columns (lane 3 of each half is column −1 here); at the start of a row it is
// column 0 itself.
void storeChroma(__m256 sumB, __m256 sumR, __m256& carry, bool rowStart, std::uint16_t* outCb,
                 std::uint16_t* outCr) {
    const __m256i evenThenOdd = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256 b = _mm256_permutevar8x32_ps(sumB, evenThenOdd);
    const __m256 r = _mm256_permutevar8x32_ps(sumR, evenThenOdd);
    const __m256 even = _mm256_permute2f128_ps(b, r, 0x20); // Cb | Cr halves
    const __m256 odd = _mm256_permute2f128_ps(b, r, 0x31);
    if (rowStart)
        carry = _mm256_permute_ps(even, _MM_SHUFFLE(0, 0, 0, 0));
    const __m256 before = _mm256_castsi256_ps(
        _mm256_alignr_epi8(_mm256_castps_si256(odd), _mm256_castps_si256(carry), 12));
    carry = odd;
    const __m256 sum = _mm256_add_ps(_mm256_add_ps(before, odd), _mm256_add_ps(even, even));
    const float cbScale = outCbScale * 0.125f;
    const float crScale = outCrScale * 0.125f;
    const __m256 scale =
        _mm256_setr_ps(cbScale, cbScale, cbScale, cbScale, crScale, crScale, crScale, crScale);
    const __m128i codes = toCodes(_mm256_fmadd_ps(sum, scale, _mm256_set1_ps(outChromaZero)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(outCb), codes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(outCr), _mm_unpackhi_epi64(codes, codes));
}

struct Strip {
    static constexpr int lanes = 8;
    using Carry = __m256;
    struct Context {
        explicit Context(const GradeJob& job) : k(job), taps(job.source.colour.siting) {}
        Constants k;
        AcrossTaps taps;
    };

    template <typename Sample, int shiftX>
    static void grade(const Context& c, const Sample* const (&luma)[2],
                      const ChromaRow (&chroma)[2][2], int x, std::uint16_t* const (&outLuma)[2],
                      Carry& carry, std::uint16_t* outCb, std::uint16_t* outCr) {
        __m256 sumB{};
        __m256 sumR{};
        for (int r = 0; r < 2; ++r) {
            __m256 diffB, diffR;
            gradeEight<Sample, shiftX>(c.k, c.taps, luma[r], chroma[0][r].values(),
                                       chroma[1][r].values(), x, outLuma[r], diffB, diffR);
            sumB = sumB + diffB;
            sumR = sumR + diffR;
        }
        storeChroma(sumB, sumR, carry, x == 0, outCb, outCr);
    }
};

} // namespace

void gradeRowsAvx2(const GradeJob& job, int rowBegin, int rowEnd) {
    gradeRowsWith<Strip>(job, rowBegin, rowEnd);
}

} // namespace vantrel::imaging::kernel

#endif // defined(__x86_64__)
