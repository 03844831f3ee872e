// scripts/slurm-batch.sh over stand-ins for sbatch, squeue and scancel that run the
// array's tasks on this machine (`make farm-test` runs it on a real cluster).

#include <csignal>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace vantrel {
namespace {

using test::shellQuote;
namespace fs = std::filesystem;

const std::string source = VANTREL_SOURCE_DIR;

class SlurmBatchTest : public ::testing::Test {
protected:
    test::ScratchDir dir;
    fs::path rushes = dir / "rushes";
    fs::path out = dir / "out";

    void SetUp() override {
        fs::create_directories(rushes);
        test::writeJob(dir / "job.json");
        for (const auto& [name, seconds] : {std::pair{"a.mp4", "0.2"}, std::pair{"b.mp4", "120"}})
            test::makeClip(std::string("-f lavfi -i testsrc2=size=64x48:rate=25:duration=") +
                               seconds + " -c:v libx264 -preset ultrafast",
                           rushes / name);
    }
    // The tools run under the stand-ins' PATH, with `environment` before them.
    std::string tool(const std::string& commandLine, const std::string& environment = "") const {
        return "env PATH=" + shellQuote(source + "/tests/cli/slurm_standin:" + getenv("PATH")) +
               " VANTREL_STANDIN_DIR=" + shellQuote(dir.path()) + " " + environment + " " +
               commandLine;
    }
    std::string slurmBatch() const {
        return shellQuote(source + "/scripts/slurm-batch.sh") + " --shards 2 --cli " +
               shellQuote(VANTREL_CLI_PATH) + " -- --job " + shellQuote(dir / "job.json") +
               " --preset slow --output-dir " + shellQuote(out) + " " + shellQuote(rushes);
    }
};

// Cancelled from outside (an operator's scancel): stopped, exit 130.
TEST_F(SlurmBatchTest, AnOutsideCancelIsAStop) {
    test::Background batch("exec " + tool(slurmBatch()));
    ASSERT_TRUE(test::waitForChange(dir.path(), [&] {
        return fs::exists(out / "a_vantrel_10bit.mp4") && !test::partialFiles(out).empty();
    }));
    EXPECT_EQ(test::run(tool("scancel 4242")).exitCode, 0);
    auto result = batch.wait();
    EXPECT_EQ(result.exitCode, 130) << result.out << result.err;
    EXPECT_NE(result.out.find("Batch stopped: "), std::string::npos) << result.out;
    EXPECT_FALSE(fs::exists(out / "b_vantrel_10bit.mp4"));
}

// A clip that vanished between the plan and the tasks ended nowhere: exit 1.
TEST_F(SlurmBatchTest, ClipsNotAccountedForFailTheRun) {
    auto result = test::run(
        tool(slurmBatch(), "VANTREL_STANDIN_BEFORE_TASKS=" +
                               shellQuote("rm " + shellQuote((rushes / "b.mp4").string()))));
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_NE(result.err.find("1 clips were not accounted for"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::exists(out / "a_vantrel_10bit.mp4"));
}

// An output folder named with quotes and `$(…)` reaches every task as a plain name.
TEST_F(SlurmBatchTest, ValuesInTheTaskScriptAreQuoted) {
    fs::remove(rushes / "b.mp4");
    out = dir / ("graded \"q\" 'q' $(touch " + (dir / "PWNED").string() + ")");
    auto result = test::run(tool(slurmBatch()));
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_TRUE(fs::exists(out / "a_vantrel_10bit.mp4") && !fs::exists(dir / "PWNED"));
}

} // namespace
} // namespace vantrel
