// Grading throughput: limited-range 4:2:0 sources (left-sited chroma, rebuilt
// by interpolation) through a 33³ cube into 10-bit 4:2:0, per kernel, source
// depth, band count and interpolation (0 trilinear, 1 tetrahedral). Items are pixels, so
// items_per_second reads as pixels per second: of CPU time for one band (what a frame costs the
// machine), of wall time for two. Kernels are taken by name; "default" is the one the grade uses
// (VANTREL_KERNEL, else the fastest this CPU runs).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/error.hpp"
#include "imaging/grade_kernel.hpp"

namespace {

using namespace vantrel;

// One planar picture with tightly packed rows.
struct Frame {
    Frame(int width, int height, int bitDepth, int sampleBytes) {
        view.width = width;
        view.height = height;
        view.bitDepth = bitDepth;
        for (int p = 0; p < 3; ++p) {
            const int w = p == 0 ? width : width / 2;
            const int h = p == 0 ? height : height / 2;
            planes[p].resize(static_cast<std::size_t>(w) * h * sampleBytes);
            view.planes[p] = {planes[p].data(), static_cast<std::ptrdiff_t>(w) * sampleBytes};
        }
    }
    std::vector<std::uint8_t> planes[3];
    PictureView view;
};

// Smooth ramps with a little texture, like a real picture: neighbouring pixels
// mostly share cube cells.
Frame makeSource(int width, int height, int bitDepth) {
    Frame frame(width, height, bitDepth, bitDepth > 8 ? 2 : 1);
    frame.view.colour.range = Range::limited;
    const double unit = std::ldexp(1.0, bitDepth - 8);
    for (int p = 0; p < 3; ++p) {
        const int w = p == 0 ? width : width / 2;
        const int h = p == 0 ? height : height / 2;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double ramp = p == 0   ? double(x) / w
                                    : p == 1 ? double(y) / h
                                             : 1 - double(x) / w;
                const double texture = 0.02 * std::sin(0.7 * x + 1.3 * y);
                const double level =
                    p == 0 ? 16 + 219 * (ramp + texture) : 16 + 224 * (ramp + texture);
                const auto code = static_cast<std::uint16_t>(std::clamp(level, 1.0, 254.0) * unit);
                if (bitDepth > 8)
                    std::memcpy(&frame.planes[p][2 * (std::size_t(y) * w + x)], &code, 2);
                else
                    frame.planes[p][std::size_t(y) * w + x] = static_cast<std::uint8_t>(code);
            }
    }
    return frame;
}

std::vector<float> warmingCube(int n) {
    std::vector<float> rgb;
    const float t = 1.0f / static_cast<float>(n - 1);
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r)
                rgb.insert(rgb.end(), {std::pow(r * t, 0.9f), g * t, std::pow(b * t, 1.1f)});
    return rgb;
}

constexpr const char* kernelNames[] = {"default", "scalar", "avx2", "avx512"};

void gradeFrame(benchmark::State& state) {
    const auto width = static_cast<int>(state.range(0));
    const auto height = static_cast<int>(state.range(1));
    const auto bitDepth = static_cast<int>(state.range(2));
    const char* const name = kernelNames[state.range(3)];
    const auto bands = static_cast<int>(state.range(4));
    const GradeOptions options{state.range(5) ? Interpolation::tetrahedral
                                              : Interpolation::trilinear};
    imaging::kernel::GradeRows kernel = nullptr;
    try {
        kernel = state.range(3) == 0 ? imaging::kernel::chosenKernel()
                                     : imaging::kernel::kernelNamed(name);
    } catch (const Error& error) {
        state.SkipWithError(error.what());
        return;
    }
    state.SetLabel(std::string(name) + " " + std::string(nameOf(options.interpolation)));

    Frame source = makeSource(width, height, bitDepth);
    Frame target(width, height, 10, 2);
    const imaging::PackedCube cube(33, warmingCube(33));

    for (auto _ : state) {
        imaging::kernel::renderWith(kernel, &cube, options, source.view, target.view, bands);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

// Kernels: indices into kernelNames.
void oneBand(benchmark::internal::Benchmark* b) {
    b->ArgNames({"width", "height", "bits", "kernel", "bands", "tetrahedral"});
    for (int kernel : {0, 1, 2, 3})
        for (int bits : {8, 10})
            for (int tetrahedral : {0, 1})
                b->Args({1920, 1080, bits, kernel, 1, tetrahedral});
    for (int bits : {8, 10})
        for (int tetrahedral : {0, 1})
            b->Args({3840, 2160, bits, 0, 1, tetrahedral});
}

void twoBands(benchmark::internal::Benchmark* b) {
    b->ArgNames({"width", "height", "bits", "kernel", "bands", "tetrahedral"});
    for (int kernel : {0, 2, 3})
        for (int bits : {8, 10})
            b->Args({1920, 1080, bits, kernel, 2, 0});
}

BENCHMARK(gradeFrame)->Apply(oneBand)->Unit(benchmark::kMillisecond);
BENCHMARK(gradeFrame)->Apply(twoBands)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
