#pragma once
// Pieces shared by the x86 vector kernels. Each kernel file includes this with
// its own instruction-set flags; everything here has internal linkage, so no
// copy compiled for one instruction set can stand in for another's.

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "media/chroma_siting.hpp"

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
    explicit TapTable(media::ChromaSiting siting) {
        // Taken well away from the left edge, where they repeat every two columns.
        constexpr int far = 8;
        for (int lane = 0; lane < lanes; ++lane) {
            const media::ChromaTaps t = media::chromaTaps(far + lane, 1, siting, false, 1 << 20);
            first[lane] = t.first - far / 2 + 1;
            second[lane] = t.second - far / 2 + 1;
            weight[lane] = t.weight;
        }
    }
    alignas(64) std::array<std::int32_t, lanes> first;
    alignas(64) std::array<std::int32_t, lanes> second;
    alignas(64) std::array<float, lanes> weight;
};

template <typename Sample> const Sample* row(const media::Plane& plane, int y) {
    return reinterpret_cast<const Sample*>(plane.data + y * plane.stride);
}

std::uint16_t* outRow(const media::Plane& plane, int y) {
    return reinterpret_cast<std::uint16_t*>(plane.data + y * plane.stride);
}

} // namespace
} // namespace vantrel::imaging::kernel
