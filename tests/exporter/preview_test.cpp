// The preview is the export: the frame it grades at a moment is, sample for
// sample, the frame the export hands to the encoder for that moment, also when
// reaching it means seeking to an earlier key frame and decoding forward.

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "exporter/preview.hpp"
#include "imaging/grade_reference.hpp"
#include "support/test_support.hpp"

namespace vantrel {
namespace {

using namespace test;
namespace fs = std::filesystem;

// Every sample of a 10-bit 4:2:0 picture, plane after plane.
std::vector<std::uint16_t> samplesOf(const PictureView& p) {
    std::vector<std::uint16_t> out;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? (p.width + 1) / 2 : p.width,
                  h = plane ? (p.height + 1) / 2 : p.height;
        for (int y = 0; y < h; ++y) {
            const auto* row = reinterpret_cast<const std::uint16_t*>(p.planes[plane].data +
                                                                     y * p.planes[plane].stride);
            out.insert(out.end(), row, row + w);
        }
    }
    return out;
}

TEST(Preview, GradesEachMomentAsTheExportGradesItsFrame) {
    ScratchDir dir;
    // A quarter turn and a maxWidth, so the fitter turns and scales as well.
    makeClip("-f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 12 -c:v libx264 -g 5 -bf 2 "
             "-pix_fmt yuv420p",
             dir / "plain.mov");
    makeClip("-i " + shellQuote(dir / "plain.mov") + " -c copy -metadata:s:v:0 rotate=90",
             dir / "clip.mov");
    std::string cube = "LUT_3D_SIZE 2\n";
    for (int i = 0; i < 8; ++i)
        cube += fmt::format("{} {} {}\n", 1 - (i & 1), i >> 1 & 1 ? 0.2 : 0.9, i >> 2);
    writeJob(dir / "job.json", cube, {{"maxWidth", 40}});
    const ExportRequest request{dir / "job.json", std::nullopt, dir / "clip.mov", dir / "out.mov",
                                std::nullopt};
    struct Keep : ExportHooks {
        std::map<std::int64_t, std::vector<std::uint16_t>> frames;
        void afterGrading(std::int64_t index, const PictureView& picture) override {
            frames[index] = samplesOf(picture);
        }
    } kept;
    ExportOptions options;
    options.preset = "ultrafast";
    options.hooks = &kept;
    Exporter::exportVideo(request, options);
    ASSERT_EQ(kept.frames.size(), 12u);

    Previewer previewer(request);
    EXPECT_EQ(std::pair(previewer.width(), previewer.height()), std::pair(40, 60));
    // Out of order, and between frames: the last frame shown by then.
    for (const auto& [index, seconds] : {std::pair{8, 0.33}, {2, 0.08}, {11, 0.47}, {0, 0.0}}) {
        SCOPED_TRACE(index);
        EXPECT_TRUE(samplesOf(previewer.gradedAt(seconds)) == kept.frames[index]);
    }
    // What a viewer sees: the graded codes through the BT.709 full-range matrix.
    const auto graded = samplesOf(previewer.gradedAt(0.33));
    const auto image = previewer.imageAt(0.33);
    EXPECT_NEAR(image.seconds, 0.32, 1e-9);
    // Before a second's gap the last picture, one no other frame refers to, stays.
    makeClip("-f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 40 -vf setpts='PTS+gt(N\\,22)*25' "
             "-fps_mode vfr -c:v libx264 -bf 3 -x264-params b-pyramid=none",
             dir / "gap.mkv");
    EXPECT_NEAR(Previewer({dir / "job.json", {}, dir / "gap.mkv", {}, {}}).imageAt(1.5).seconds,
                0.88, 1e-9);
    const auto rgb = decodeYCbCr({10, 1, 1, Range::full}, 40, 60, [&](int p, int x, int y) {
        return graded[p == 0 ? y * 40 + x : 2400 + (p - 1) * 600 + y * 20 + x];
    });
    for (std::size_t i = 0; i < image.rgb.size(); ++i)
        ASSERT_NEAR(image.rgb[i], std::clamp(rgb.pixels[i / 3][i % 3], 0.0, 1.0) * 65535, 1) << i;
}

} // namespace
} // namespace vantrel
