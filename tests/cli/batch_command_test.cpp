// vantrel-cli batch as a user runs it: real exports of tiny clips, the report,
// resume, parallel exports and a stop.

#include <algorithm>
#include <csignal>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.hpp"

namespace vantrel {
namespace {

using test::shellQuote;
namespace fs = std::filesystem;

class BatchCommandTest : public ::testing::Test {
protected:
    test::ScratchDir dir;
    fs::path rushes = dir / "rushes";
    fs::path out = dir / "out";
    fs::path report = dir / "report.jsonl";

    void SetUp() override { test::writeJob(dir / "job.json"); }
    void addClip(const std::string& name, int frames = 5) {
        fs::create_directories((rushes / name).parent_path());
        test::makeClip("-f lavfi -i testsrc2=size=64x48:rate=25 -frames:v " +
                           std::to_string(frames) + " -c:v libx264 -preset ultrafast",
                       rushes / name);
    }
    std::string batch(const std::string& args, const fs::path& outputDir) const {
        return shellQuote(VANTREL_CLI_PATH) + " batch --job " + shellQuote(dir / "job.json") +
               " --output-dir " + shellQuote(outputDir) + " " + args;
    }
    test::CommandResult run(const std::string& args = "") const {
        return test::run(batch("--preset ultrafast --report " + shellQuote(report) + " " + args +
                                   " " + shellQuote(rushes),
                               out));
    }
    // The report's lines by input path relative to the rushes.
    std::map<std::string, nlohmann::json> readReport() const {
        std::map<std::string, nlohmann::json> lines;
        std::ifstream in(report);
        for (std::string line; std::getline(in, line);) {
            auto json = nlohmann::json::parse(line);
            lines[fs::path(json["input"]).lexically_relative(rushes).string()] = json;
        }
        return lines;
    }
    // Every file under the output folder, relative to it, sorted.
    std::vector<std::string> outputs() const {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(out))
            if (entry.is_regular_file())
                files.push_back(entry.path().lexically_relative(out).string());
        std::sort(files.begin(), files.end());
        return files;
    }
};

// A broken clip fails alone (exit 1), with nothing left of it, and is named in the
// summary and the report; two exports at once share the counts.
TEST_F(BatchCommandTest, ABrokenClipFailsAloneAndIsNamedInTheSummaryAndReport) {
    addClip("a.mp4");
    addClip("day2/a.MOV");
    test::writeFile(rushes / "broken.mov", "not a movie at all");
    auto result = run("--jobs 2");
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(outputs(),
              (std::vector<std::string>{"a_vantrel_10bit.mp4", "day2/a_vantrel_10bit.mov"}));
    auto lines = readReport();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines["broken.mov"]["status"], "failed");
    const auto& error = lines["broken.mov"]["error"]; // the words of the summary
    for (const char* good : {"a.mp4", "day2/a.MOV"}) {
        EXPECT_EQ(lines[good]["status"], "done") << good;
        EXPECT_EQ(lines[good]["frames"], 5) << good;
        EXPECT_FALSE(lines[good].contains("error")) << good;
    }
    EXPECT_NE(result.out.find("Batch: 3 clips: 2 done, 1 failed, 0 skipped.\nFailed: " +
                              (rushes / "broken.mov").string() + ": " +
                              error["description"].get<std::string>()),
              std::string::npos)
        << result.out;
}

// A rerun resumes: finished outputs are skipped (a partial file is no finished
// output) and the report starts afresh.
TEST_F(BatchCommandTest, ExistingOutputsAreSkipped) {
    addClip("a.mp4");
    addClip("b.mp4");
    ASSERT_EQ(run("--audio copy").exitCode, 0); // a clip without sound has none to copy
    auto inodeOf = [this](const char* name) {
        struct stat info {};
        ::stat((out / name).c_str(), &info);
        return info.st_ino;
    };
    const auto firstA = inodeOf("a_vantrel_10bit.mp4");
    fs::remove(out / "b_vantrel_10bit.mp4");
    test::writeFile(out / ".b_vantrel_10bit.mp4.vantrel-partial-0000abcd", "half");
    auto resumed = run();
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_NE(resumed.out.find("Batch: 2 clips: 1 done, 0 failed, 1 skipped."), std::string::npos)
        << resumed.out;
    EXPECT_EQ(inodeOf("a_vantrel_10bit.mp4"), firstA);
    EXPECT_EQ(readReport()["a.mp4"]["status"], "skipped");
    EXPECT_EQ(readReport()["b.mp4"]["status"], "done");
}

// Nothing of the user's is lost or hidden: a report path naming an input, the job,
// the LUT, a planned output, a folder or a device is refused before anything is
// written (exit 2). A folder where an output belongs fails its clip; a folder made
// for an output that never came goes again (unless another shard writes there); an export's
// warnings reach stderr and the report.
TEST_F(BatchCommandTest, RefusesReportsOverItsOwnFilesAndHidesNothing) {
    addClip("a.mp4");
    addClip("b.mp4");
    test::writeFile(dir / "latin1.cube", "caf\xE9");
    const auto lut = "--lut " + shellQuote(dir / "latin1.cube");
    const auto clipBytes = test::readFile(rushes / "a.mp4");
    fs::create_directories(out); // where a report could be opened
    for (const fs::path& path : {rushes / "a.mp4", dir / "job.json", dir / "latin1.cube",
                                 out / "b_vantrel_10bit.mp4", rushes, fs::path("/dev/null")}) {
        report = path;
        auto refused = run(lut);
        EXPECT_EQ(refused.exitCode, 2) << path << refused.err;
    }
    EXPECT_TRUE(test::readFile(rushes / "a.mp4") == clipBytes && fs::is_empty(out));

    report = dir / "report.jsonl";
    fs::create_directories(rushes / "bad");
    test::writeFile(rushes / "bad/broken.mov", "not a movie");
    fs::create_directories(out / "a_vantrel_10bit.mp4");
    auto result = run(lut);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.out.find("1 done, 2 failed, 0 skipped"), std::string::npos) << result.out;
    EXPECT_FALSE(fs::exists(out / "bad"));
    EXPECT_NE(result.err.find("b.mp4: The LUT file"), std::string::npos) << result.err;
    EXPECT_EQ(readReport()["b.mp4"]["warnings"].size(), 1u);

    fs::copy(rushes / "bad", rushes / "bad2"); // a failing clip for this shard only
    addClip("bad/c.mp4"); // planned for the other shard, which may be writing it now
    run(lut + " --shard 0/2");
    EXPECT_TRUE(fs::is_directory(out / "bad") && !fs::exists(out / "bad2"));
}

// A scheduler cancelling the job: finished outputs stay, the clip being graded is
// neither kept nor reported, and no more clips start (exit 130). The job was read
// once, so replacing it after the first clip changes nothing for the second.
TEST_F(BatchCommandTest, AStopKeepsFinishedOutputsAndStartsNoMoreClips) {
    for (const auto& [name, frames] :
         {std::pair{"a.mp4", 5}, {"b.mp4", 300}, {"c.mp4", 3000}, {"d.mp4", 5}})
        addClip(name, frames);
    test::Background batchRun(
        "exec " +
        batch("--preset slow --report " + shellQuote(report) + " " + shellQuote(rushes), out));
    ASSERT_TRUE(
        test::waitForChange(dir.path(), [&] { return fs::exists(out / "a_vantrel_10bit.mp4"); }));
    test::writeFile(dir / "job.json", "{");
    // b is finished and c being graded.
    ASSERT_TRUE(test::waitForChange(dir.path(), [&] {
        return fs::exists(out / "b_vantrel_10bit.mp4") && !test::partialFiles(out).empty();
    }));
    ::kill(batchRun.pid(), SIGTERM);
    auto result = batchRun.wait();
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_EQ(outputs(), (std::vector<std::string>{"a_vantrel_10bit.mp4", "b_vantrel_10bit.mp4"}));
    ASSERT_EQ(readReport().size(), 2u);
    EXPECT_EQ(readReport()["b.mp4"]["status"], "done");
    EXPECT_NE(result.out.find("Batch stopped: 2 of 4 clips ended"), std::string::npos)
        << result.out;
}

} // namespace
} // namespace vantrel
