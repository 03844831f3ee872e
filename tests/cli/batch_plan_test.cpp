// Which clips a batch takes and where their outputs go; how shards split the list.

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/batch_plan.hpp"
#include "support/test_support.hpp"

namespace vantrel::cli {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

// Planning reads names only, so empty files stand in for clips.
void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    test::writeFile(path, "");
}

// "input -> output" relative to the scratch folder, in plan order.
std::vector<std::string> describe(const std::vector<BatchClip>& clips, const fs::path& root) {
    std::vector<std::string> lines;
    for (const auto& clip : clips)
        lines.push_back(fs::path(clip.input).lexically_relative(root).string() + " -> " +
                        fs::path(clip.output).lexically_relative(root).string());
    return lines;
}

class BatchPlanTest : public ::testing::Test {
protected:
    ScratchDir dir;
    fs::path out = dir / "out";

    std::vector<std::string> plan(const std::vector<std::string>& inputs,
                                  std::optional<fs::path> outputDir = std::nullopt) {
        std::vector<fs::path> paths;
        for (const auto& input : inputs)
            paths.push_back(dir / input);
        return describe(planBatch(paths, outputDir.value_or(out)), dir.path());
    }
};

TEST_F(BatchPlanTest, FolderGivesItsVideosRecursivelyInSortedOrder) {
    for (const char* name :
         {"rushes/b.mov", "rushes/a/clip.mov", "rushes/b/clip.mov", "rushes/C.MP4", "rushes/d.m4v",
          "rushes/e.Mov", "rushes/notes.txt", "rushes/f.mkv", "rushes/mov", "rushes/.hidden.mov",
          "rushes/._b.mov", "rushes/.cache/x.mov", "rushes/a/a.b.mp4"})
        touch(dir / name);
    fs::create_directories(dir / "rushes/empty.mov"); // a folder, not a clip
    EXPECT_EQ(plan({"rushes"}), (std::vector<std::string>{
                                    "rushes/C.MP4 -> out/C_vantrel_10bit.mp4",
                                    "rushes/a/a.b.mp4 -> out/a/a.b_vantrel_10bit.mp4",
                                    "rushes/a/clip.mov -> out/a/clip_vantrel_10bit.mov",
                                    "rushes/b.mov -> out/b_vantrel_10bit.mov",
                                    "rushes/b/clip.mov -> out/b/clip_vantrel_10bit.mov",
                                    "rushes/d.m4v -> out/d_vantrel_10bit.mp4",
                                    "rushes/e.Mov -> out/e_vantrel_10bit.mov",
                                }));
}

TEST_F(BatchPlanTest, NamedFilesAreTakenWhateverTheirExtension) {
    touch(dir / "in/take.avi");
    touch(dir / "in/deep/z.mp4");
    EXPECT_EQ(plan({"in/take.avi", "in/deep/z.mp4"}),
              (std::vector<std::string>{"in/deep/z.mp4 -> out/z_vantrel_10bit.mp4",
                                        "in/take.avi -> out/take_vantrel_10bit.mov"}));
}

TEST_F(BatchPlanTest, AClipReachedTwiceIsPlannedOnceAsFirstReached) {
    touch(dir / "rushes/a/clip.mov");
    touch(dir / "rushes/b.mp4");
    fs::create_symlink(dir / "rushes/b.mp4", dir / "link.mp4");
    struct Case {
        std::vector<std::string> inputs;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {{"rushes", "rushes/a/clip.mov", "rushes/./b.mp4", "link.mp4", "rushes/"},
         {"rushes/a/clip.mov -> out/a/clip_vantrel_10bit.mov",
          "rushes/b.mp4 -> out/b_vantrel_10bit.mp4"}},
        {{"rushes/a/clip.mov", "rushes"},
         {"rushes/a/clip.mov -> out/clip_vantrel_10bit.mov",
          "rushes/b.mp4 -> out/b_vantrel_10bit.mp4"}},
        {{"link.mp4", "rushes/b.mp4"}, {"link.mp4 -> out/link_vantrel_10bit.mp4"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plan(c.inputs), c.expected) << ::testing::PrintToString(c.inputs);
}

TEST_F(BatchPlanTest, AClipLinkedTwiceInOneFolderKeepsTheFirstNameInSortedOrder) {
    // Whatever order the folder lists them in: shards on other nodes must agree.
    touch(dir / "links/m.mp4");
    for (const char* link : {"links/z.mp4", "links/b.mp4", "links/y.mp4"})
        fs::create_symlink(dir / "links/m.mp4", dir / link);
    EXPECT_EQ(plan({"links"}),
              (std::vector<std::string>{"links/b.mp4 -> out/b_vantrel_10bit.mp4"}));
}

TEST_F(BatchPlanTest, TwoClipsForOneOutputAreRefusedBeforeAnythingIsWritten) {
    const std::vector<std::vector<std::string>> cases = {
        {"day1/clip.mov", "day2/clip.mov"}, // same name under two folders given
        {"one/clip.mp4", "one/clip.m4v"},   // both name an MPEG-4 output
        {"one/clip.mov", "one/clip.MOV"},
    };
    for (const auto& names : cases) {
        ScratchDir scratch;
        std::vector<fs::path> inputs;
        for (const auto& name : names) {
            touch(scratch / name);
            inputs.push_back((scratch / name).parent_path());
        }
        try {
            planBatch(inputs, scratch / "out");
            ADD_FAILURE() << "no collision found for " << names[0] << " and " << names[1];
        } catch (const Error& error) {
            EXPECT_TRUE(error.is(BatchCode::sharedOutput)) << error.what();
            std::string message = error.what();
            for (const auto& name : names)
                EXPECT_NE(message.find((scratch / name).string()), std::string::npos) << message;
        }
        EXPECT_FALSE(fs::exists(scratch / "out"));
    }
}

TEST_F(BatchPlanTest, OutputsWrittenIntoTheInputFolderAreNotGradedAgain) {
    touch(dir / "rushes/clip.mov");
    touch(dir / "rushes/clip_vantrel_10bit.mov");        // written beside the input
    touch(dir / "rushes/graded/clip_vantrel_10bit.mov"); // written below it
    touch(dir / "rushes/other_vantrel_10bit.mov");       // no clip of ours wrote this one
    EXPECT_EQ(plan({"rushes"}, dir / "rushes"),
              (std::vector<std::string>{
                  "rushes/clip.mov -> rushes/clip_vantrel_10bit.mov",
                  "rushes/graded/clip_vantrel_10bit.mov -> "
                  "rushes/graded/clip_vantrel_10bit_vantrel_10bit.mov",
                  "rushes/other_vantrel_10bit.mov -> rushes/other_vantrel_10bit_vantrel_10bit.mov",
              }));
    EXPECT_EQ(plan({"rushes"}, dir / "rushes/graded"),
              (std::vector<std::string>{
                  "rushes/clip.mov -> rushes/graded/clip_vantrel_10bit.mov",
                  "rushes/clip_vantrel_10bit.mov -> "
                  "rushes/graded/clip_vantrel_10bit_vantrel_10bit.mov",
                  "rushes/other_vantrel_10bit.mov -> "
                  "rushes/graded/other_vantrel_10bit_vantrel_10bit.mov",
              }));
}

TEST(ShardTest, ParsesOnlyIndexSlashCountWithIndexBelowCount) {
    struct Case {
        const char* text;
        std::optional<std::pair<std::size_t, std::size_t>> expected;
    };
    const std::vector<Case> cases = {
        {"0/1", {{0, 1}}},
        {"2/3", {{2, 3}}},
        {"07/10", {{7, 10}}},
        {"3/3", {}},
        {"1/0", {}},
        {"0/0", {}},
        {"-1/2", {}},
        {"+1/2", {}},
        {" 1/2", {}},
        {"1/2 ", {}},
        {"1/", {}},
        {"/2", {}},
        {"1/2/3", {}},
        {"a/2", {}},
        {"1", {}},
        {"", {}},
        {"0/99999999999999999999999", {}},
    };
    for (const auto& c : cases) {
        auto shard = parseShard(c.text);
        ASSERT_EQ(shard.has_value(), c.expected.has_value()) << c.text;
        if (shard) {
            EXPECT_EQ(std::make_pair(shard->index, shard->count), *c.expected) << c.text;
        }
    }
}

TEST(ShardTest, EveryClipLandsInExactlyOneShardInOrder) {
    for (std::size_t size : {0, 1, 2, 5, 12}) {
        std::vector<BatchClip> clips;
        for (std::size_t i = 0; i < size; ++i)
            clips.push_back({std::to_string(100 + i), std::to_string(i)});
        for (std::size_t count : {1, 2, 3, 5, 13}) {
            std::vector<std::string> seen;
            for (std::size_t index = 0; index < count; ++index) {
                std::string previous;
                for (const auto& clip : takeShard(clips, {index, count})) {
                    EXPECT_EQ(std::stoul(clip.output.string()) % count, index);
                    EXPECT_LT(previous, clip.input.string()) << "kept in plan order";
                    previous = clip.input.string();
                    seen.push_back(clip.input.string());
                }
            }
            std::set<std::string> unique(seen.begin(), seen.end());
            EXPECT_EQ(seen.size(), size) << size << " clips in " << count << " shards";
            EXPECT_EQ(unique.size(), size) << size << " clips in " << count << " shards";
        }
    }
}

} // namespace
} // namespace vantrel::cli
