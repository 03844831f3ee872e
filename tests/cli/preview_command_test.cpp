// vantrel-cli preview: a 16-bit PNG of one frame, the source left of the split
// and the grade right of it; the files it reads are never its output.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.hpp"

namespace vantrel {
namespace {

using test::shellQuote;

TEST(PreviewCommand, WritesTheSplitFrameAsA16BitPngAndNeverOverAnInput) {
    test::ScratchDir dir;
    // Mid grey, and a LUT that maps every colour to white.
    test::makeClip("-f lavfi -i color=gray:size=64x48:rate=25:duration=0.4 -c:v libx264 "
                   "-pix_fmt yuv420p",
                   dir / "clip.mp4");
    std::string white = "LUT_3D_SIZE 2\n";
    for (int i = 0; i < 8; ++i)
        white += "1 1 1\n";
    test::writeFile(dir / "job.json",
                    nlohmann::json{{"version", 1}, {"grade", {{"lutCube", white}}}}.dump());
    const auto cli = [&](const std::string& output) {
        return test::run(shellQuote(VANTREL_CLI_PATH) + " preview --job " +
                         shellQuote((dir / "job.json").string()) + " --input " +
                         shellQuote((dir / "clip.mp4").string()) +
                         " --at 0.2 --split 0.25 --output " + shellQuote(output));
    };
    const auto result = cli((dir / "frame.png").string());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "Preview: " + (dir / "frame.png").string() + " (64x48, the frame at 0.200 s)\n");
    const auto stream = test::probe(dir / "frame.png")["streams"][0];
    EXPECT_EQ(stream["pix_fmt"], "rgb48be");
    // Row 24 as 16-bit samples: grey up to x = 16, white from there.
    const auto pixels = test::run("ffmpeg -v error -i " + shellQuote((dir / "frame.png").string()) +
                                  " -f rawvideo -pix_fmt gray16le -")
                            .out;
    ASSERT_EQ(pixels.size(), 64u * 48 * 2);
    const auto at = [&](int x) {
        const auto i = std::size_t(24 * 64 + x) * 2;
        return static_cast<unsigned char>(pixels[i]) | static_cast<unsigned char>(pixels[i + 1])
                                                           << 8;
    };
    EXPECT_NEAR(at(15), 0x8000, 0x800);
    EXPECT_GT(at(16), 0xFF00);

    const auto bytes = test::readFile(dir / "clip.mp4");
    EXPECT_EQ(cli((dir / "clip.mp4").string()).exitCode, 1);
    EXPECT_EQ(test::readFile(dir / "clip.mp4"), bytes);
}

} // namespace
} // namespace vantrel
