// The window's preview, from the moment a slider is released to a picture to
// show: seek to the key frame before that moment, decode forward to it, fit,
// grade, and turn both sides into 8-bit RGB as the window paints them. The
// clip is what phones hand us: 1080p H.264 at 15 Mbit/s with a key frame every
// second (30 fps), grain included so that decoding costs what it does in life.
// Each repetition is one release at a different moment, so the repetitions'
// median and maximum are the figures a user feels.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "exporter/preview.hpp"

namespace {

using namespace vantrel;
namespace fs = std::filesystem;

constexpr double clipSeconds = 10;

// A warm look as a 33-point cube, as a job file carries it.
std::string warmJob() {
    std::string cube = "LUT_3D_SIZE 33\n";
    for (int b = 0; b < 33; ++b)
        for (int g = 0; g < 33; ++g)
            for (int r = 0; r < 33; ++r) {
                const double x = r / 32.0, y = g / 32.0, z = b / 32.0;
                cube += fmt::format("{:.6f} {:.6f} {:.6f}\n", std::pow(x, 0.9), y,
                                    0.9 * std::pow(z, 1.1));
            }
    std::string escaped;
    for (char c : cube)
        escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    return R"({"version": 1, "grade": {"lutCube": ")" + escaped + "\"}}";
}

// The clip and job, made once per process in a scratch folder.
const ExportRequest& sources() {
    static const ExportRequest request = [] {
        const fs::path dir = fs::temp_directory_path() / "vantrel-preview-bench";
        fs::create_directories(dir);
        const fs::path clip = dir / "phone.mp4";
        if (!fs::exists(clip)) {
            const std::string command = fmt::format(
                "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30:duration={} "
                "-vf noise=alls=10:allf=t -c:v libx264 -preset veryfast -b:v 15M -maxrate 15M "
                "-bufsize 30M -g 30 -keyint_min 30 -sc_threshold 0 -pix_fmt yuv420p '{}.tmp.mp4' "
                "&& mv '{}.tmp.mp4' '{}'",
                clipSeconds, clip.string(), clip.string(), clip.string());
            if (std::system(command.c_str()) != 0)
                std::abort();
        }
        std::ofstream(dir / "job.json") << warmJob();
        ExportRequest r;
        r.jobPath = dir / "job.json";
        r.inputPath = clip;
        return r;
    }();
    return request;
}

// What the window does with a side: 16-bit R′G′B′ to 8-bit for painting.
std::vector<std::uint8_t> toEightBit(const PreviewImage& image) {
    std::vector<std::uint8_t> out(image.rgb.size());
    std::transform(image.rgb.begin(), image.rgb.end(), out.begin(),
                   [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); });
    return out;
}

void releaseToPicture(benchmark::State& state) {
    static Previewer previewer(sources());
    // Moments spread over the clip and over the second between key frames, so
    // that some releases decode one frame and some nearly thirty.
    static int release = 0;
    for (auto _ : state) {
        const double seconds = std::fmod(0.5 + 1.37 * release++, clipSeconds - 0.5);
        const auto sides = previewer.sidesAt(seconds);
        benchmark::DoNotOptimize(toEightBit(sides.source));
        benchmark::DoNotOptimize(toEightBit(sides.graded));
    }
}

BENCHMARK(releaseToPicture)
    ->Iterations(1)
    ->Repetitions(40)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("max",
                        [](const std::vector<double>& v) {
                            return *std::max_element(v.begin(), v.end());
                        })
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
