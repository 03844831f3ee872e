// Which clips a batch takes and where their outputs go; how shards split the list.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/batch_plan.hpp"
#include "support/test_support.hpp"

namespace vantrel::cli {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Planning reads names only, so empty files stand in for clips. Each case plans
// `inputs` (relative to a fresh folder holding `files` and `links`) into "out", and
// lists "input -> output" in plan order.
struct PlanCase {
    Lines files, inputs, expected;
    std::vector<std::pair<std::string, std::string>> links = {}; // link -> target
};

Lines plan(const PlanCase& c) {
    test::ScratchDir dir;
    for (const auto& name : c.files) {
        fs::create_directories((dir / name).parent_path());
        test::writeFile(dir / name, "");
    }
    for (const auto& [link, target] : c.links)
        fs::create_symlink(dir / target, dir / link);
    std::vector<fs::path> inputs;
    for (const auto& input : c.inputs)
        inputs.push_back(dir / input);
    Lines lines;
    for (const auto& clip : planBatch(inputs, dir / "out"))
        lines.push_back(clip.input.lexically_relative(dir.path()).string() + " -> " +
                        clip.output.lexically_relative(dir.path()).string());
    return lines;
}

TEST(BatchPlanTest, WhichClipsAndWhereTheyGo) {
    const PlanCase cases[] = {
        // A folder gives its videos by extension in any case, recursively, sorted byte
        // by byte, leaving out dot names; a named file is taken whatever its name.
        {{"r/b.mov", "r/a/clip.mov", "r/C.MP4", "r/d.m4v", "r/notes.txt", "r/f.mkv", "r/mov",
          "r/.hidden.mov", "r/.cache/x.mov", "r/a/a.b.mp4", "in/take.avi"},
         {"r", "in/take.avi"},
         {"in/take.avi -> out/take_vantrel_10bit.mov", "r/C.MP4 -> out/C_vantrel_10bit.mp4",
          "r/a/a.b.mp4 -> out/a/a.b_vantrel_10bit.mp4",
          "r/a/clip.mov -> out/a/clip_vantrel_10bit.mov", "r/b.mov -> out/b_vantrel_10bit.mov",
          "r/d.m4v -> out/d_vantrel_10bit.mp4"}},
        // A clip reached twice, by any spelling or link, is planned once, as first reached.
        {{"r/a/clip.mov", "r/b.mp4"},
         {"r/a/clip.mov", "r", "r/./b.mp4", "link.mp4"},
         {"r/a/clip.mov -> out/clip_vantrel_10bit.mov", "r/b.mp4 -> out/b_vantrel_10bit.mp4"},
         {{"link.mp4", "r/b.mp4"}}},
        // Linked twice in one folder: the first name in sorted order, whatever the order
        // the folder lists them in, so that shards on other nodes agree.
        {{"l/m.mp4"},
         {"l"},
         {"l/b.mp4 -> out/b_vantrel_10bit.mp4"},
         {{"l/z.mp4", "l/m.mp4"}, {"l/b.mp4", "l/m.mp4"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plan(c), c.expected) << ::testing::PrintToString(c.inputs);
}

TEST(BatchPlanTest, TwoClipsForOneOutputAreRefusedBeforeAnythingIsWritten) {
    for (const Lines& names :
         {Lines{"day1/clip.mov", "day2/clip.mov"}, Lines{"one/clip.mp4", "one/clip.m4v"},
          Lines{"one/clip.mov", "one/clip.MOV"}}) {
        try {
            plan({names, {fs::path(names[0]).parent_path(), fs::path(names[1]).parent_path()}, {}});
            ADD_FAILURE() << "no collision found for " << names[0] << " and " << names[1];
        } catch (const Error& error) {
            EXPECT_TRUE(error.is(BatchCode::sharedOutput)) << error.what();
            for (const auto& name : names)
                EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
        }
    }
}

TEST(ShardTest, ParsesIndexSlashCountAndSplitsTheListInOrder) {
    EXPECT_EQ(std::pair(parseShard("07/10")->index, parseShard("07/10")->count),
              std::pair(7ul, 10ul));
    for (const char* bad :
         {"3/3", "1/0", "-1/2", "+1/2", " 1/2", "1/", "1/2/3", "1", "0/99999999999999999999999"})
        EXPECT_FALSE(parseShard(bad)) << bad;
    std::vector<BatchClip> clips;
    for (int i = 0; i < 7; ++i)
        clips.push_back({std::to_string(i), ""});
    Lines shards;
    for (std::size_t index = 0; index < 3; ++index) {
        shards.emplace_back();
        for (const auto& clip : takeShard(clips, {index, 3}))
            shards.back() += clip.input.string();
    }
    EXPECT_EQ(shards, (Lines{"036", "14", "25"}));
    // A count near the largest size must not wrap back into the list.
    EXPECT_EQ(takeShard(clips, *parseShard("1/18446744073709551615")).size(), 1u);
}

} // namespace
} // namespace vantrel::cli
