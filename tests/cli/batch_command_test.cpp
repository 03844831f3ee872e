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

// By input path relative to `root`.
std::map<std::string, nlohmann::json> readReport(const fs::path& path, const fs::path& root) {
    std::map<std::string, nlohmann::json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        auto json = nlohmann::json::parse(line);
        lines[fs::path(json["input"].get<std::string>()).lexically_relative(root).string()] = json;
    }
    return lines;
}

// Every file under a folder, relative to it, sorted.
std::vector<std::string> filesUnder(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files.push_back(entry.path().lexically_relative(folder).string());
    std::sort(files.begin(), files.end());
    return files;
}

class BatchCommandTest : public ::testing::Test {
protected:
    test::ScratchDir dir;
    fs::path job = dir / "job.json";
    fs::path rushes = dir / "rushes";
    fs::path out = dir / "out";
    fs::path report = dir / "report.jsonl";

    void SetUp() override {
        std::ofstream(job)
            << nlohmann::json{{"version", 1}, {"grade", {{"lutCube", test::identityCube}}}}.dump();
    }
    void addClip(const std::string& name, double seconds = 0.2) {
        fs::create_directories((rushes / name).parent_path());
        test::makeClip("-f lavfi -i testsrc2=size=64x48:rate=25:duration=" +
                           std::to_string(seconds) + " -c:v libx264 -preset ultrafast",
                       rushes / name);
    }
    std::string batch(const std::string& args, const fs::path& outputDir) const {
        return shellQuote(VANTREL_CLI_PATH) + " batch --job " + shellQuote(job.string()) +
               " --output-dir " + shellQuote(outputDir.string()) + " " + args;
    }
    test::CommandResult run(const std::string& args = "") const {
        return test::run(batch("--preset ultrafast --report " + shellQuote(report.string()) + " " +
                                   args + " " + shellQuote(rushes.string()),
                               out));
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
    EXPECT_EQ(filesUnder(out),
              (std::vector<std::string>{"a_vantrel_10bit.mp4", "day2/a_vantrel_10bit.mov"}));
    auto lines = readReport(report, rushes);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines["broken.mov"]["status"], "failed");
    EXPECT_EQ(lines["broken.mov"]["output"], (out / "broken_vantrel_10bit.mov").string());
    const auto& error = lines["broken.mov"]["error"]; // fields, and the words of the summary
    EXPECT_TRUE(error["domain"].is_string() && error["code"].is_number_integer()) << error;
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
// output), the report starts afresh, and --force grades again.
TEST_F(BatchCommandTest, ExistingOutputsAreSkippedUnlessForced) {
    addClip("a.mp4");
    addClip("b.mp4");
    ASSERT_EQ(run().exitCode, 0);
    auto inodeOf = [](const fs::path& p) {
        struct stat info {};
        ::stat(p.c_str(), &info);
        return info.st_ino;
    };
    const auto a = out / "a_vantrel_10bit.mp4", b = out / "b_vantrel_10bit.mp4";
    const auto firstA = inodeOf(a);
    fs::remove(b);
    test::writeFile(out / ".b_vantrel_10bit.mp4.vantrel-partial-0000abcd", "half");
    auto resumed = run();
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_NE(resumed.out.find("Batch: 2 clips: 1 done, 0 failed, 1 skipped."), std::string::npos)
        << resumed.out;
    EXPECT_EQ(inodeOf(a), firstA);
    EXPECT_TRUE(fs::exists(b));
    auto lines = readReport(report, rushes);
    EXPECT_EQ(lines["a.mp4"]["status"], "skipped");
    EXPECT_EQ(lines["b.mp4"]["status"], "done");

    EXPECT_EQ(run("--force").exitCode, 0);
    EXPECT_NE(inodeOf(a), firstA);
    for (const auto& [input, line] : readReport(report, rushes))
        EXPECT_EQ(line["status"], "done") << input;
}

// --list prints the shard's plan and writes nothing; usage errors exit 2 before
// anything is written; an output folder or a report that cannot be written fails
// the batch (exit 1).
TEST_F(BatchCommandTest, ListUsageErrorsAndWhatCannotBeWritten) {
    addClip("a.mp4");
    test::writeFile(rushes / "b.mov", "");
    test::writeFile(rushes / "c.mp4", "");
    auto list = run("--list --shard 1/2");
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(list.out, (rushes / "b.mov").string() + " \u2192 " +
                            (out / "b_vantrel_10bit.mov").string() + "\n");
    fs::create_directories(dir / "other");
    test::writeFile(dir / "other/a.mp4", "");
    for (const std::string& args : {std::string("--shard 2/2"), std::string("--jobs 0"),
                                    shellQuote((dir / "other").string())}) {
        auto result = run(args);
        EXPECT_EQ(result.exitCode, 2) << args << "\n" << result.err;
        EXPECT_FALSE(result.err.empty()) << args;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(report));

    fs::remove(rushes / "b.mov");
    fs::remove(rushes / "c.mp4");
    test::writeFile(dir / "taken", "a file where the output folder should be");
    auto noFolder =
        test::run(batch("--preset ultrafast " + shellQuote(rushes.string()), dir / "taken"));
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_NE(noFolder.out.find("0 done, 1 failed"), std::string::npos) << noFolder.out;
    auto noReport = test::run(
        batch("--preset ultrafast --report /dev/full " + shellQuote(rushes.string()), out));
    EXPECT_EQ(noReport.exitCode, 1);
    EXPECT_NE(noReport.err.find("/dev/full"), std::string::npos) << noReport.err;
    EXPECT_TRUE(fs::exists(out / "a_vantrel_10bit.mp4"));
}

// A scheduler cancelling the job: finished outputs stay, the clip being graded is
// neither kept nor reported, and no more clips start (exit 130).
TEST_F(BatchCommandTest, AStopKeepsFinishedOutputsAndStartsNoMoreClips) {
    addClip("a.mp4");
    addClip("b.mp4", 20);
    addClip("c.mp4");
    test::Background batchRun(batch("--preset slow --report " + shellQuote(report.string()) + " " +
                                        shellQuote(rushes.string()),
                                    out));
    ASSERT_TRUE(test::waitForChange(dir.path(), [&] { return fs::exists(out); }));
    ASSERT_TRUE(test::waitForChange(out, [&] {
        for (const auto& name : test::folderEntries(out))
            if (name.rfind(".b_vantrel_10bit.mp4.vantrel-partial-", 0) == 0)
                return true;
        return false;
    }));
    ::kill(batchRun.pid(), SIGTERM);
    auto result = batchRun.wait();
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_EQ(filesUnder(out), std::vector<std::string>{"a_vantrel_10bit.mp4"});
    auto lines = readReport(report, rushes);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines["a.mp4"]["status"], "done");
    EXPECT_NE(result.out.find("Batch stopped: 1 of 3 clips ended"), std::string::npos)
        << result.out;
}

} // namespace
} // namespace vantrel
