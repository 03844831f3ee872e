// vantrel-cli preview: a 16-bit PNG of one frame, the source left of the split
// and the grade right of it, with the grade options of the command line; the
// files it reads are never its output.

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace vantrel {
namespace {

using test::shellQuote;

TEST(PreviewCommand, WritesTheSplitFrameAsA16BitPngAndNeverOverAnInput) {
    test::ScratchDir dir;
    // Mid grey, and a LUT that is black at its black and white corners and white
    // at the others: between them trilinear gives 3/4 at a grey, tetrahedral (on
    // the diagonal) none of it.
    test::makeClip("-f lavfi -i color=gray:size=64x48:rate=25:duration=0.4 -c:v libx264 "
                   "-pix_fmt yuv420p",
                   dir / "clip.mp4");
    test::writeJob(dir / "job.json",
                   "LUT_3D_SIZE 2\n0 0 0\n1 1 1\n1 1 1\n1 1 1\n1 1 1\n1 1 1\n1 1 1\n0 0 0\n");
    const auto cli = [&](const std::string& output, const std::string& options = "") {
        return test::run(shellQuote(VANTREL_CLI_PATH) + " preview --job " +
                         shellQuote(dir / "job.json") + " --input " + shellQuote(dir / "clip.mp4") +
                         " --at 0.2 --split 0.25 --output " + shellQuote(output) + options);
    };
    const auto result = cli((dir / "frame.png").string());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "Preview: " + (dir / "frame.png").string() + " (64x48, the frame at 0.200 s)\n");
    const auto stream = test::probe(dir / "frame.png")["streams"][0];
    EXPECT_EQ(stream["pix_fmt"], "rgb48be");
    // Row 24 as 16-bit samples: grey up to x = 16, the grade from there.
    const auto row = [&] {
        const auto pixels = test::run("ffmpeg -v error -i " + shellQuote(dir / "frame.png") +
                                      " -f rawvideo -pix_fmt gray16le -")
                                .out;
        EXPECT_EQ(pixels.size(), 64u * 48 * 2);
        return [pixels](int x) {
            const auto i = std::size_t(24 * 64 + x) * 2;
            const auto byte = [&](std::size_t at) { return unsigned(std::uint8_t(pixels[at])); };
            return byte(i) | byte(i + 1) << 8;
        };
    };
    const auto trilinear = row();
    EXPECT_NEAR(trilinear(15), 0x8000, 0x800);
    EXPECT_NEAR(trilinear(16), 0xC000, 0x800);
    // Half of the tetrahedral grade's black, mixed with the grey: a quarter.
    ASSERT_EQ(
        cli((dir / "frame.png").string(), " --interpolation tetrahedral --strength 0.5").exitCode,
        0);
    EXPECT_NEAR(row()(16), 0x4000, 0x800);

    const auto bytes = test::readFile(dir / "clip.mp4");
    EXPECT_EQ(cli((dir / "clip.mp4").string()).exitCode, 1);
    EXPECT_EQ(test::readFile(dir / "clip.mp4"), bytes);
}

} // namespace
} // namespace vantrel
