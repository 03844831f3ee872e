// The grading kernel for AVX-512 (F, BW, DQ, VL): sixteen pixels of two rows per
// step, the same arithmetic as the scalar reference in grade_kernel.cpp. Its
// lookup reads a cube cell as two aligned 64-byte lines of the cube's quads (blue
// low and high, each with both red and both green neighbours) and reduces four
// pixels at a time.

// GCC 12 warns about the deliberately undefined pass-through operand inside its
// own AVX-512 intrinsics (fixed in GCC 13).
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// x86-64 only: elsewhere the build has the scalar kernel alone.
#if defined(__x86_64__)

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/grade_kernel.hpp"
#include "imaging/grade_kernel_x86.hpp"

namespace vantrel::imaging::kernel {

namespace {

struct Constants {
    explicit Constants(const GradeJob& job)
        : lumaScale(_mm512_set1_ps(job.lumaScale)), lumaOffset(_mm512_set1_ps(job.lumaOffset)),
          crToR(_mm512_set1_ps(job.crToR)), cbToG(_mm512_set1_ps(job.cbToG)),
          crToG(_mm512_set1_ps(job.crToG)), cbToB(_mm512_set1_ps(job.cbToB)) {
        if (!job.cube)
            return;
        const auto n = static_cast<std::int32_t>(job.cube->size());
        lattice = job.cube->quads();
        top = _mm512_set1_ps(static_cast<float>(n - 1));
        topCell = _mm512_set1_ps(static_cast<float>(n - 2));
        stepG = 16 * (n - 1);
        stepB = 16 * (n - 1) * (n - 1);
        stepsG = _mm512_set1_epi32(stepG);
        stepsB = _mm512_set1_epi32(stepB);
        tetrahedral = job.interpolation == Interpolation::tetrahedral;
        mix = job.strength != 1.0f;
        strength = _mm512_set1_ps(job.strength);
        inputSpan = _mm512_set1_ps(job.inputSpan);
        inputMin = _mm512_set1_ps(job.inputMin);
    }

    __m512 lumaScale;
    __m512 lumaOffset;
    __m512 crToR;
    __m512 cbToG;
    __m512 crToG;
    __m512 cbToB;

    const float* lattice = nullptr; // the cube's quads; null without a cube
    __m512 top{};                   // N − 1
    __m512 topCell{};               // N − 2
    std::int32_t stepG = 0;         // floats between green neighbours' quads
    std::int32_t stepB = 0;         // floats between blue neighbours' quads
    __m512i stepsG{};
    __m512i stepsB{};
    bool tetrahedral = false;
    bool mix = false; // strength below 1
    __m512 strength{};
    __m512 inputSpan{}; // the source's R′ from its normalised value, for the mix
    __m512 inputMin{};
};

__m512 load16(const std::uint8_t* p) {
    return _mm512_cvtepi32_ps(
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

__m512 load16(const std::uint16_t* p) {
    return _mm512_cvtepi32_ps(
        _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
}

// Rounded, limited codes as sixteen 16-bit lanes.
__m256i toCodes(__m512 v) {
    // max returns its second operand when either is NaN: NaN becomes 0.
    v = _mm512_min_ps(_mm512_max_ps(v, _mm512_setzero_ps()), _mm512_set1_ps(outMaxCode));
    return _mm512_cvtusepi32_epi16(_mm512_cvtps_epi32(v));
}

__m512i cellOf(const Constants& k, __m512 v, __m512& high) {
    v = _mm512_min_ps(_mm512_max_ps(v, _mm512_setzero_ps()), _mm512_set1_ps(1.0f));
    v = _mm512_mul_ps(v, k.top);
    const __m512 cell = _mm512_min_ps(_mm512_roundscale_ps(v, _MM_FROUND_TO_NEG_INF), k.topCell);
    high = _mm512_sub_ps(v, cell);
    return _mm512_cvttps_epi32(cell);
}

// Where each pixel's cell (its lowest corner) starts in the lattice, and the
// colour's fractions within the cell.
[[gnu::always_inline]] inline __m512i cellOffsets(const Constants& k, __m512 r, __m512 g, __m512 b,
                                                  __m512& fr, __m512& fg, __m512& fb) {
    return _mm512_add_epi32(_mm512_slli_epi32(cellOf(k, r, fr), 4),
                            _mm512_add_epi32(_mm512_mullo_epi32(cellOf(k, g, fg), k.stepsG),
                                             _mm512_mullo_epi32(cellOf(k, b, fb), k.stepsB)));
}

// The four 128-bit lanes of each of a and b summed: lane pairs of a, then of b.
__m512 pairSums(__m512 a, __m512 b) {
    return _mm512_add_ps(_mm512_shuffle_f32x4(a, b, _MM_SHUFFLE(1, 0, 1, 0)),
                         _mm512_shuffle_f32x4(a, b, _MM_SHUFFLE(3, 2, 3, 2)));
}

// Four corner weights of sixteen pixels (w00 for red low and green low, w10 one
// red step up, w01 one green step up, w11 both), in the order a cell half holds
// its corners: 128-bit lane L of corner[k] holds the four of pixel 4L + k.
void spreadCorners(__m512 w00, __m512 w10, __m512 w01, __m512 w11, __m512 (&corner)[4]) {
    const __m512 t0 = _mm512_unpacklo_ps(w00, w10), t1 = _mm512_unpackhi_ps(w00, w10);
    const __m512 t2 = _mm512_unpacklo_ps(w01, w11), t3 = _mm512_unpackhi_ps(w01, w11);
    corner[0] = _mm512_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    corner[1] = _mm512_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    corner[2] = _mm512_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    corner[3] = _mm512_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

// spread[m] takes lane m's four weights over the four 128-bit lanes.
alignas(64) constexpr std::int32_t spread[4][16] = {
    {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3},
    {4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7},
    {8, 8, 8, 8, 9, 9, 9, 9, 10, 10, 10, 10, 11, 11, 11, 11},
    {12, 12, 12, 12, 13, 13, 13, 13, 14, 14, 14, 14, 15, 15, 15, 15}};

// Four pixels' weighted corners (pixel j's four corners in the 128-bit lanes of
// weighted[j]) summed into their RGBx, pixel j in lane j.
__m512 sumQuads(const __m512 (&weighted)[4]) {
    const __m512 s01 = pairSums(weighted[0], weighted[1]);
    const __m512 s23 = pairSums(weighted[2], weighted[3]);
    return _mm512_add_ps(_mm512_shuffle_f32x4(s01, s23, _MM_SHUFFLE(2, 0, 2, 0)),
                         _mm512_shuffle_f32x4(s01, s23, _MM_SHUFFLE(3, 1, 3, 1)));
}

// Sixteen RGBx pixels (four per vector) back to one vector per channel.
[[gnu::always_inline]] inline void toChannels(const __m512 (&quads)[4], __m512& r, __m512& g,
                                              __m512& b) {
    const auto channel = [&](int c) {
        const __m512i pick = _mm512_set_epi32(0, 0, 0, 0, 0, 0, 0, 0, 28 + c, 24 + c, 20 + c,
                                              16 + c, 12 + c, 8 + c, 4 + c, c);
        const __m512 low = _mm512_permutex2var_ps(quads[0], pick, quads[1]);
        const __m512 high = _mm512_permutex2var_ps(quads[2], pick, quads[3]);
        return _mm512_shuffle_f32x4(low, high, _MM_SHUFFLE(1, 0, 1, 0));
    };
    r = channel(0);
    g = channel(1);
    b = channel(2);
}

[[gnu::always_inline]] inline void lookup(const Constants& k, __m512& r, __m512& g, __m512& b) {
    const __m512 one = _mm512_set1_ps(1.0f);
    __m512 highR, highG, highB;
    const __m512i offsets = cellOffsets(k, r, g, b, highR, highG, highB);
    alignas(64) std::int32_t offset[16];
    alignas(64) float blue[16];
    _mm512_store_si512(offset, offsets);
    _mm512_store_ps(blue, highB);

    const __m512 lowR = _mm512_sub_ps(one, highR);
    const __m512 lowG = _mm512_sub_ps(one, highG);
    __m512 corner[4];
    spreadCorners(_mm512_mul_ps(lowR, lowG), _mm512_mul_ps(highR, lowG), _mm512_mul_ps(lowR, highG),
                  _mm512_mul_ps(highR, highG), corner);

    __m512 quads[4]; // RGBx of pixels 4m to 4m + 3
#pragma GCC unroll 4
    for (int m = 0; m < 4; ++m) {
        const __m512i spreadM = _mm512_load_si512(spread[m]);
        __m512 weighted[4];
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
            const int pixel = 4 * m + j;
            const float* p = k.lattice + offset[pixel];
            const __m512 low = _mm512_load_ps(p);
            const __m512 high = _mm512_load_ps(p + k.stepB);
            const __m512 alongB =
                _mm512_fmadd_ps(_mm512_sub_ps(high, low), _mm512_set1_ps(blue[pixel]), low);
            weighted[j] = _mm512_mul_ps(alongB, _mm512_permutexvar_ps(spreadM, corner[j]));
        }
        quads[m] = sumQuads(weighted);
    }
    toChannels(quads, r, g, b);
}

// The cell's eight corner weights, all but four of them zero, chosen with masks
// rather than branches; then read and summed as the trilinear lookup does.
[[gnu::always_inline]] inline void lookupTetrahedral(const Constants& k, __m512& r, __m512& g,
                                                     __m512& b) {
    __m512 fr, fg, fb;
    const __m512i offsets = cellOffsets(k, r, g, b, fr, fg, fb);
    alignas(64) std::int32_t offset[16];
    _mm512_store_si512(offset, offsets);

    const __mmask16 rOverG = _mm512_cmp_ps_mask(fr, fg, _CMP_GT_OQ);
    const __mmask16 rOverB = _mm512_cmp_ps_mask(fr, fb, _CMP_GT_OQ);
    const __mmask16 gOverB = _mm512_cmp_ps_mask(fg, fb, _CMP_GT_OQ);
    const __mmask16 bOverG = _mm512_cmp_ps_mask(fb, fg, _CMP_GT_OQ);
    const __mmask16 bOverR = _mm512_cmp_ps_mask(fb, fr, _CMP_GT_OQ);
    // Which component is largest and which smallest, as the scalar kernel picks them.
    const __mmask16 firstR = rOverG & rOverB;
    const __mmask16 firstG = ~rOverG & ~bOverG;
    const __mmask16 firstB = ~firstR & ~firstG;
    const __mmask16 lastR = ~rOverG & bOverR;
    const __mmask16 lastG = rOverG & ~gOverB;
    const __mmask16 lastB = ~lastR & ~lastG;

    const __m512 f1 = _mm512_max_ps(_mm512_max_ps(fr, fg), fb);
    const __m512 f3 = _mm512_min_ps(_mm512_min_ps(fr, fg), fb);
    const __m512 f2 =
        _mm512_max_ps(_mm512_min_ps(fr, fg), _mm512_min_ps(_mm512_max_ps(fr, fg), fb));
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 d1 = _mm512_sub_ps(f1, f2); // weight of c(e1)
    const __m512 d2 = _mm512_sub_ps(f2, f3); // weight of c(e1 + e2)
    __m512 lowCorner[4], highCorner[4];      // blue low, blue high
    spreadCorners(_mm512_sub_ps(one, f1), _mm512_maskz_mov_ps(firstR, d1),
                  _mm512_maskz_mov_ps(firstG, d1), _mm512_maskz_mov_ps(lastB, d2), lowCorner);
    spreadCorners(_mm512_maskz_mov_ps(firstB, d1), _mm512_maskz_mov_ps(lastG, d2),
                  _mm512_maskz_mov_ps(lastR, d2), f3, highCorner);

    __m512 quads[4];
#pragma GCC unroll 4
    for (int m = 0; m < 4; ++m) {
        const __m512i spreadM = _mm512_load_si512(spread[m]);
        __m512 weighted[4];
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
            const float* p = k.lattice + offset[4 * m + j];
            weighted[j] = _mm512_fmadd_ps(
                _mm512_load_ps(p + k.stepB), _mm512_permutexvar_ps(spreadM, highCorner[j]),
                _mm512_mul_ps(_mm512_load_ps(p), _mm512_permutexvar_ps(spreadM, lowCorner[j])));
        }
        quads[m] = sumQuads(weighted);
    }
    toChannels(quads, r, g, b);
}

struct AcrossTaps {
    explicit AcrossTaps(ChromaSiting siting) {
        const TapTable<16> table(siting);
        first = _mm512_load_si512(table.first.data());
        second = _mm512_load_si512(table.second.data());
        weight = _mm512_load_ps(table.weight.data());
    }
    __m512i first;
    __m512i second;
    __m512 weight;
};

template <int shiftX> __m512 chromaAt(const AcrossTaps& taps, const float* row, int x) {
    if constexpr (shiftX == 0) {
        return _mm512_loadu_ps(row + 1 + x);
    } else {
        const __m512 samples = _mm512_loadu_ps(row + x / 2);
        const __m512 a = _mm512_permutexvar_ps(taps.first, samples);
        const __m512 b = _mm512_permutexvar_ps(taps.second, samples);
        return _mm512_fmadd_ps(_mm512_sub_ps(b, a), taps.weight, a);
    }
}

// Grades sixteen pixels of one row and returns B′ − Y′ and R′ − Y′ of each.
template <typename Sample, int shiftX>
void gradeSixteen(const Constants& k, const AcrossTaps& taps, const Sample* luma,
                  const float* cbRow, const float* crRow, int x, std::uint16_t* outLuma,
                  __m512& diffB, __m512& diffR) {
    const __m512 kr = _mm512_set1_ps(outKr);
    const __m512 kb = _mm512_set1_ps(outKb);
    const __m512 y = _mm512_fmadd_ps(load16(luma), k.lumaScale, k.lumaOffset);
    const __m512 cb = chromaAt<shiftX>(taps, cbRow, x);
    const __m512 cr = chromaAt<shiftX>(taps, crRow, x);
    __m512 r = _mm512_fmadd_ps(cr, k.crToR, y);
    __m512 g = _mm512_fmadd_ps(cb, k.cbToG, _mm512_fmadd_ps(cr, k.crToG, y));
    __m512 b = _mm512_fmadd_ps(cb, k.cbToB, y);
    if (k.lattice) {
        const __m512 sourceR = r, sourceG = g, sourceB = b;
        if (k.tetrahedral)
            lookupTetrahedral(k, r, g, b);
        else
            lookup(k, r, g, b);
        if (k.mix) {
            const auto mix = [&k](__m512 unit, __m512 to) {
                const __m512 from = _mm512_fmadd_ps(unit, k.inputSpan, k.inputMin);
                return _mm512_fmadd_ps(k.strength, _mm512_sub_ps(to, from), from);
            };
            r = mix(sourceR, r);
            g = mix(sourceG, g);
            b = mix(sourceB, b);
        }
    }

    const __m512 yp =
        _mm512_fmadd_ps(kr, _mm512_sub_ps(r, g), _mm512_fmadd_ps(kb, _mm512_sub_ps(b, g), g));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(outLuma),
                        toCodes(_mm512_mul_ps(yp, _mm512_set1_ps(outLumaScale))));
    diffB = _mm512_sub_ps(b, yp);
    diffR = _mm512_sub_ps(r, yp);
}

// Left-sited output chroma of the eight blocks of sixteen columns, from the row
// pair's column sums; `carry` as in the AVX2 kernel, lanes 7 and 15 being
// column −1 for Cb and Cr.
void storeChroma(__m512 sumB, __m512 sumR, __m512& carry, bool rowStart, std::uint16_t* outCb,
                 std::uint16_t* outCr) {
    const __m512i evenThenOdd =
        _mm512_set_epi32(15, 13, 11, 9, 7, 5, 3, 1, 14, 12, 10, 8, 6, 4, 2, 0);
    const __m512 b = _mm512_permutexvar_ps(evenThenOdd, sumB);
    const __m512 r = _mm512_permutexvar_ps(evenThenOdd, sumR);
    const __m512 even = _mm512_shuffle_f32x4(b, r, _MM_SHUFFLE(1, 0, 1, 0)); // Cb | Cr halves
    const __m512 odd = _mm512_shuffle_f32x4(b, r, _MM_SHUFFLE(3, 2, 3, 2));
    if (rowStart)
        carry = _mm512_permutexvar_ps(
            _mm512_set_epi32(8, 8, 8, 8, 8, 8, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0), even);
    const __m512i shifted =
        _mm512_set_epi32(14, 13, 12, 11, 10, 9, 8, 16 + 15, 6, 5, 4, 3, 2, 1, 0, 16 + 7);
    const __m512 before = _mm512_permutex2var_ps(odd, shifted, carry);
    carry = odd;
    const __m512 sum = _mm512_add_ps(_mm512_add_ps(before, odd), _mm512_add_ps(even, even));
    const float cbScale = outCbScale * 0.125f;
    const float crScale = outCrScale * 0.125f;
    const __m512 scale =
        _mm512_set_ps(crScale, crScale, crScale, crScale, crScale, crScale, crScale, crScale,
                      cbScale, cbScale, cbScale, cbScale, cbScale, cbScale, cbScale, cbScale);
    const __m256i codes = toCodes(_mm512_fmadd_ps(sum, scale, _mm512_set1_ps(outChromaZero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(outCb), _mm256_castsi256_si128(codes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(outCr), _mm256_extracti128_si256(codes, 1));
}

struct Strip {
    static constexpr int lanes = 16;
    using Carry = __m512;
    struct Context {
        explicit Context(const GradeJob& job) : k(job), taps(job.source.colour.siting) {}
        Constants k;
        AcrossTaps taps;
    };

    template <typename Sample, int shiftX>
    static void grade(const Context& c, const Sample* const (&luma)[2],
                      const ChromaRow (&chroma)[2][2], int x, std::uint16_t* const (&outLuma)[2],
                      Carry& carry, std::uint16_t* outCb, std::uint16_t* outCr) {
        __m512 sumB{};
        __m512 sumR{};
        for (int r = 0; r < 2; ++r) {
            __m512 diffB, diffR;
            gradeSixteen<Sample, shiftX>(c.k, c.taps, luma[r], chroma[0][r].values(),
                                         chroma[1][r].values(), x, outLuma[r], diffB, diffR);
            sumB = sumB + diffB;
            sumR = sumR + diffR;
        }
        storeChroma(sumB, sumR, carry, x == 0, outCb, outCr);
    }
};

} // namespace

void gradeRowsAvx512(const GradeJob& job, int rowBegin, int rowEnd) {
    // Cubes too large for quads take the AVX2 lookup.
    if (job.cube && !job.cube->quads()) {
        gradeRowsAvx2(job, rowBegin, rowEnd);
        return;
    }
    gradeRowsWith<Strip>(job, rowBegin, rowEnd);
}

} // namespace vantrel::imaging::kernel

#endif // defined(__x86_64__)
