// vantrel-cli batch as a user runs it: real exports of tiny clips, the report,
// resume, parallel exports and Ctrl-C.

#include <algorithm>
#include <csignal>
#include <fstream>
#include <future>
#include <map>
#include <string>
#include <sys/stat.h>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.hpp"

namespace vantrel {
namespace {

using test::identityCube;
using test::makeClip;
using test::probe;
using test::run;
using test::ScratchDir;
using test::shellQuote;
namespace fs = std::filesystem;

const std::string cli = VANTREL_CLI_PATH;
const std::string tinyClip = "-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 -c:v libx264 "
                             "-preset ultrafast -pix_fmt yuv420p";

std::vector<nlohmann::json> readReport(const fs::path& path) {
    std::vector<nlohmann::json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

// Every file under a folder, relative to it, sorted.
std::vector<std::string> filesUnder(const fs::path& folder) {
    std::vector<std::string> files;
    if (fs::exists(folder))
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file())
                files.push_back(entry.path().lexically_relative(folder).string());
    std::sort(files.begin(), files.end());
    return files;
}

class BatchCommandTest : public ::testing::Test {
protected:
    ScratchDir dir;
    fs::path job = dir / "job.json";
    fs::path rushes = dir / "rushes";
    fs::path out = dir / "out";
    fs::path report = dir / "report.jsonl";

    void SetUp() override {
        std::ofstream(job)
            << nlohmann::json{{"version", 1}, {"grade", {{"lutCube", identityCube}}}}.dump();
    }

    void addClip(const std::string& name) {
        fs::create_directories((rushes / name).parent_path());
        makeClip(tinyClip, rushes / name);
    }

    test::CommandResult batch(const std::string& args, const fs::path& outputDir) {
        return run(shellQuote(cli) + " batch --job " + shellQuote(job.string()) +
                   " --preset ultrafast --output-dir " + shellQuote(outputDir.string()) + " " +
                   args);
    }
    test::CommandResult batch(const std::string& args) {
        return batch("--report " + shellQuote(report.string()) + " " + args, out);
    }
};

// A graded output: HEVC Main 10 with every frame of the 0.2 s clip.
void expectGraded(const fs::path& output) {
    ASSERT_TRUE(fs::exists(output)) << output;
    auto info = probe(output, "-count_frames");
    const auto& stream = info["streams"][0];
    EXPECT_EQ(stream["codec_name"], "hevc") << output;
    EXPECT_EQ(stream["pix_fmt"], "yuv420p10le") << output;
    EXPECT_EQ(stream["nb_read_frames"], "5") << output;
}

TEST_F(BatchCommandTest, ABrokenClipFailsAloneAndIsNamedInTheSummaryAndReport) {
    addClip("a.mp4");
    addClip("day2/a.MOV");
    test::writeFile(rushes / "broken.mov", "not a movie at all");
    auto result = batch(shellQuote(rushes.string()));
    EXPECT_EQ(result.exitCode, 1) << result.err;

    expectGraded(out / "a_vantrel_10bit.mp4");
    expectGraded(out / "day2/a_vantrel_10bit.mov");
    EXPECT_EQ(filesUnder(out),
              (std::vector<std::string>{"a_vantrel_10bit.mp4", "day2/a_vantrel_10bit.mov"}))
        << "the broken clip leaves nothing, not even a partial file";

    auto lines = readReport(report);
    ASSERT_EQ(lines.size(), 3u);
    std::map<std::string, nlohmann::json> byInput;
    for (const auto& line : lines)
        byInput[fs::path(line["input"].get<std::string>()).lexically_relative(rushes).string()] =
            line;
    const auto& broken = byInput["broken.mov"];
    EXPECT_EQ(broken["status"], "failed");
    EXPECT_EQ(broken["output"], (out / "broken_vantrel_10bit.mov").string());
    // The report's error is fields; the summary line says the same in words.
    const auto& error = broken["error"];
    ASSERT_TRUE(error["domain"].is_string() && error["code"].is_number_integer()) << broken;
    EXPECT_FALSE(error["reason"].get<std::string>().empty()) << broken;
    const std::string said =
        fmt::format("{} error {}: {}", error["domain"].get<std::string>(), error["code"].get<int>(),
                    error["reason"].get<std::string>());
    for (const char* good : {"a.mp4", "day2/a.MOV"}) {
        EXPECT_EQ(byInput[good]["status"], "done") << good;
        EXPECT_EQ(byInput[good]["frames"], 5) << good;
        EXPECT_FALSE(byInput[good].contains("error")) << good;
        EXPECT_GT(byInput[good]["seconds"].get<double>(), 0) << good;
    }

    EXPECT_NE(result.out.find("Batch: 3 clips: 2 done, 1 failed, 0 skipped."), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Failed: " + (rushes / "broken.mov").string() + ": " + said),
              std::string::npos)
        << result.out;
}

TEST_F(BatchCommandTest, ExistingOutputsAreSkippedUnlessForced) {
    addClip("a.mp4");
    addClip("b.mp4");
    ASSERT_EQ(batch(shellQuote(rushes.string())).exitCode, 0);
    auto inodeOf = [](const fs::path& p) {
        struct stat info {};
        ::stat(p.c_str(), &info);
        return info.st_ino;
    };
    auto a = out / "a_vantrel_10bit.mp4";
    auto b = out / "b_vantrel_10bit.mp4";
    auto firstA = inodeOf(a);
    fs::remove(b);
    // A partial file from a killed run is no finished output.
    test::writeFile(out / ".b_vantrel_10bit.mp4.vantrel-partial-0000abcd", "half");

    auto resumed = batch(shellQuote(rushes.string()));
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_NE(resumed.out.find("Batch: 2 clips: 1 done, 0 failed, 1 skipped."), std::string::npos)
        << resumed.out;
    EXPECT_EQ(inodeOf(a), firstA) << "a finished output is left alone";
    expectGraded(b);
    auto lines = readReport(report);
    ASSERT_EQ(lines.size(), 2u) << "the report starts afresh with each run";
    EXPECT_EQ(lines[0]["status"], "skipped");
    EXPECT_EQ(lines[0]["output"], a.string());
    EXPECT_EQ(lines[1]["status"], "done");

    auto forced = batch("--force " + shellQuote(rushes.string()));
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_NE(inodeOf(a), firstA) << "--force grades again";
    expectGraded(a);
    for (const auto& line : readReport(report))
        EXPECT_EQ(line["status"], "done");
}

TEST_F(BatchCommandTest, TwoExportsAtOnceWriteWhatOneAtATimeWrites) {
    for (const char* name : {"a.mp4", "b.mov", "c/d.m4v", "c/e.mp4"})
        addClip(name);
    test::writeFile(rushes / "c/broken.mp4", "");
    auto one = batch(shellQuote(rushes.string()), dir / "one");
    auto two = batch("--jobs 2 " + shellQuote(rushes.string()), dir / "two");
    EXPECT_EQ(one.exitCode, 1);
    EXPECT_EQ(two.exitCode, 1);
    EXPECT_NE(two.out.find("Batch: 5 clips: 4 done, 1 failed, 0 skipped."), std::string::npos)
        << two.out;
    auto files = filesUnder(dir / "one");
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(filesUnder(dir / "two"), files);
    for (const auto& file : files)
        EXPECT_EQ(test::readFile(dir / "two" / file), test::readFile(dir / "one" / file)) << file;
}

TEST_F(BatchCommandTest, ListPrintsThePlanOfTheShardAndWritesNothing) {
    fs::create_directories(rushes);
    for (const char* name : {"a.mp4", "b.mov", "c.m4v", "d.mp4", "e.mov"})
        test::writeFile(rushes / name, "");
    auto shard = batch("--list --shard 1/2 " + shellQuote(rushes.string()));
    EXPECT_EQ(shard.exitCode, 0) << shard.err;
    EXPECT_EQ(shard.out, (rushes / "b.mov").string() + " \u2192 " +
                             (out / "b_vantrel_10bit.mov").string() + "\n" +
                             (rushes / "d.mp4").string() + " \u2192 " +
                             (out / "d_vantrel_10bit.mp4").string() + "\n");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(report));
}

TEST_F(BatchCommandTest, UsageErrorsExitTwoBeforeAnythingIsWritten) {
    addClip("a.mp4");
    fs::create_directories(dir / "other");
    test::writeFile(dir / "other/a.mp4", "");
    const std::string input = shellQuote(rushes.string());
    for (const std::string& args : std::vector<std::string>{
             "--shard 2/2 " + input, "--shard 1 " + input, "--jobs 0 " + input, "",
             shellQuote((dir / "missing").string()),
             input + " " + shellQuote((dir / "other").string()), // both give a_vantrel_10bit.mp4
             "--report " + shellQuote((dir / "no/such/folder/r.jsonl").string()) + " " + input}) {
        auto result = batch(args, out);
        EXPECT_EQ(result.exitCode, 2) << args << "\n" << result.err;
        EXPECT_FALSE(result.err.empty()) << args;
        EXPECT_FALSE(fs::exists(out)) << args;
    }
    auto noDir = run(shellQuote(cli) + " batch --job " + shellQuote(job.string()) + " " + input);
    EXPECT_EQ(noDir.exitCode, 2) << "--output-dir is required";
}

TEST_F(BatchCommandTest, WhatCannotBeWrittenFailsTheBatch) {
    addClip("a.mp4");
    test::writeFile(dir / "taken", "a file where the output folder should be");
    auto noFolder = batch(shellQuote(rushes.string()), dir / "taken");
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_NE(noFolder.out.find("Batch: 1 clip: 0 done, 1 failed, 0 skipped.\nFailed: " +
                                (rushes / "a.mp4").string() + ": file error"),
              std::string::npos)
        << noFolder.out;

    auto noReport = batch("--report /dev/full " + shellQuote(rushes.string()), out);
    EXPECT_EQ(noReport.exitCode, 1);
    EXPECT_NE(noReport.err.find("/dev/full"), std::string::npos) << noReport.err;
    expectGraded(out / "a_vantrel_10bit.mp4");
}

// Ctrl-C at a terminal, SIGTERM from a scheduler cancelling the job.
class BatchStopTest : public BatchCommandTest, public ::testing::WithParamInterface<int> {};

TEST_P(BatchStopTest, KeepsFinishedOutputsAndStartsNoMoreClips) {
    addClip("a.mp4");
    addClip("b.mp4");
    fs::create_directories(out);
    // Long enough that the signal lands while it is being encoded.
    makeClip("-f lavfi -i testsrc2=size=640x360:rate=25:duration=20 -c:v libx264 -preset ultrafast",
             rushes / "c.mp4");
    addClip("d.mp4");
    // Done in an earlier run: after the stop it is not even looked at.
    test::writeFile(out / "d_vantrel_10bit.mp4", "graded before");
    auto pidFile = dir / "pid";
    auto done = std::async(std::launch::async, [&] {
        return run(shellQuote(cli) + " batch --job " + shellQuote(job.string()) +
                   " --preset slow --output-dir " + shellQuote(out.string()) + " --report " +
                   shellQuote(report.string()) + " " + shellQuote(rushes.string()) +
                   " & echo $! > " + shellQuote(pidFile.string()) + "; wait $!");
    });
    // Wait (without a deadline of our own: ctest's timeout guards) until a and b
    // are reported, so c is the clip being graded.
    auto linesEnded = [&] {
        auto text = fs::exists(report) ? test::readFile(report) : std::string();
        return std::count(text.begin(), text.end(), '\n');
    };
    while (linesEnded() < 2 &&
           done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    }
    std::string pid;
    std::ifstream(pidFile) >> pid;
    ASSERT_FALSE(pid.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(std::stoi(pid), GetParam());
    auto result = done.get();

    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_EQ(filesUnder(out),
              (std::vector<std::string>{"a_vantrel_10bit.mp4", "b_vantrel_10bit.mp4",
                                        "d_vantrel_10bit.mp4"}));
    expectGraded(out / "a_vantrel_10bit.mp4");
    auto lines = readReport(report);
    ASSERT_EQ(lines.size(), 2u) << "the stopped clip did not end; it is not reported";
    EXPECT_EQ(lines[1]["status"], "done");
    EXPECT_NE(result.out.find("Batch stopped: 2 of 4 clips ended"), std::string::npos)
        << result.out;
}

INSTANTIATE_TEST_SUITE_P(Signals, BatchStopTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) {
                             return info.param == SIGINT ? "SIGINT" : "SIGTERM";
                         });

} // namespace
} // namespace vantrel
