// vantrel-cli export and plan as a user runs them: exit codes, streams, files.

#include <algorithm>
#include <csignal>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.hpp"

namespace vantrel {
namespace {

using test::identityCube;
using test::makeClip;
using test::run;
using test::ScratchDir;
using test::shellQuote;
namespace fs = std::filesystem;

const std::string cli = VANTREL_CLI_PATH;

class ExportCommandTest : public ::testing::Test {
protected:
    ScratchDir dir;
    fs::path job = dir / "job.json";
    fs::path clip = dir / "clip.mp4";

    void SetUp() override {
        std::ofstream(job)
            << nlohmann::json{{"version", 1}, {"grade", {{"lutCube", identityCube}}}}.dump();
        makeClip(
            "-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 -c:v libx264 -preset ultrafast "
            "-pix_fmt yuv420p",
            clip);
    }

    test::CommandResult vantrel(const std::string& args) {
        return run(shellQuote(cli) + " " + args);
    }
    std::string files() const {
        return "--job " + shellQuote(job.string()) + " --input " + shellQuote(clip.string());
    }
};

TEST_F(ExportCommandTest, ExportsNextToTheInputByDefault) {
    auto result = vantrel("export " + files() + " --preset ultrafast");
    auto expected = dir / "clip_vantrel_10bit.mp4";
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Done: " + expected.string() + "\n");
    EXPECT_TRUE(fs::exists(expected));
    EXPECT_EQ(result.err, "") << "no progress line when stderr is not a terminal";
}

TEST_F(ExportCommandTest, FailuresGoToStderrWithTheFullDescription) {
    std::ofstream(dir / "bad.cube") << "LUT_3D_SIZE 2\n0 0 0\n";
    auto result =
        vantrel("export " + files() + " --lut " + shellQuote((dir / "bad.cube").string()) +
                " --output " + shellQuote((dir / "out.mov").string()));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("vantrel-cli: cube error 2: the LUT has fewer entries"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(dir / "out.mov"));

    auto same = vantrel("export " + files() + " --output " + shellQuote(clip.string()));
    EXPECT_EQ(same.exitCode, 1);
    EXPECT_NE(same.err.find("export error 8: "), std::string::npos) << same.err;
}

TEST_F(ExportCommandTest, UsageErrorsExitTwo) {
    for (const std::string& args : std::vector<std::string>{
             "export --input x.mp4", "export " + files() + " --preset warp",
             "plan --job /nonexistent.json --input /nonexistent.mp4", "frobnicate"}) {
        auto result = vantrel(args);
        EXPECT_EQ(result.exitCode, 2) << args << "\n" << result.err;
        EXPECT_FALSE(result.err.empty()) << args;
    }
}

TEST_F(ExportCommandTest, PlanPrintsTheDecisionsAndWritesNothing) {
    // HLG footage: the plan shows what reaches the LUT beside what the output is.
    makeClip("-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 -c:v libx264 -preset ultrafast "
             "-pix_fmt yuv420p -color_primaries bt2020 -color_trc arib-std-b67 -colorspace "
             "bt2020nc -color_range tv -chroma_sample_location topleft",
             clip);
    auto result = vantrel("plan " + files() + " --bitrate-mbps 12,5 --output " +
                          shellQuote((dir / "x.m4v").string()));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    auto plan = nlohmann::json::parse(result.out);
    EXPECT_EQ(plan["fps"], 25.0);
    EXPECT_EQ(plan["timescale"], 25);
    EXPECT_EQ(plan["frameStep"], 1);
    EXPECT_EQ(plan["width"], 64);
    EXPECT_EQ(plan["encodedHeight"], 48);
    EXPECT_EQ(plan["targetBitrate"], 12500000);
    EXPECT_EQ(plan["fileType"], "mp4");
    EXPECT_EQ(plan["lutSize"], 2);
    const auto& settings = plan["encoderSettings"];
    EXPECT_EQ(settings["codec"], "hevc");
    EXPECT_EQ(settings["keyFrameInterval"], 50);
    EXPECT_EQ(settings["targetBitrate"], 12500000);
    EXPECT_EQ(settings["maxBitrate"], 12500000);
    EXPECT_EQ(plan["sourceColour"], nlohmann::json({{"primaries", "bt2020"},
                                                    {"transfer", "arib-std-b67"},
                                                    {"matrix", "bt2020nc"},
                                                    {"range", "tv"},
                                                    {"chromaSiting", "topleft"}}));
    EXPECT_EQ(plan["outputColour"]["transfer"], "bt709");
    EXPECT_EQ(plan["outputColour"]["range"], "pc");
    // The render averages chroma back to the siting HEVC assumes untagged.
    EXPECT_EQ(plan["outputColour"]["chromaSiting"], "left");
    EXPECT_FALSE(fs::exists(dir / "x.m4v"));
}

// A LUT that is read but not applied as it says still grades; the user is told why.
TEST_F(ExportCommandTest, WarningsGoToStderrAndTheRunGoesOn) {
    const auto lut = [&](const std::string& name, const std::string& text) {
        test::writeFile(dir / name, text);
        return " --lut " + shellQuote((dir / name).string());
    };
    const struct {
        std::string verb, lutOption, warning;
    } cases[] = {{"plan", lut("latin1.cube", "TITLE \"caf\xE9\"\n" + identityCube),
                  "is not UTF-8 text; the job's own LUT is used instead."},
                 {"plan", lut("surplus.cube", identityCube + "0.5 0.5 0.5\n"), "1 more entries"},
                 {"export --preset ultrafast",
                  lut("domain.cube", "DOMAIN_MAX 2 2 2\n" + identityCube),
                  "DOMAIN_MAX of 2 2 2 is ignored"}};
    for (const auto& c : cases) {
        auto result = vantrel(c.verb + " " + files() + c.lutOption + " --output " +
                              shellQuote((dir / "out.mov").string()));
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err.rfind("vantrel-cli: warning: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(c.warning), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    EXPECT_TRUE(fs::exists(dir / "out.mov"));
}

// Another user's file in a shared sticky folder (such as /tmp): the rename at the
// end would be refused, so the export must be refused before it encodes.
TEST_F(ExportCommandTest, AnotherUsersFileInAStickyFolderIsRefusedUpFront) {
    if (::geteuid() != 0 || run("command -v setpriv").exitCode != 0)
        GTEST_SKIP() << "needs root to act as another user";
    auto shared = dir / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    fs::permissions(dir.path(), fs::perms::all);
    auto out = shared / "out.mov";
    std::ofstream(out) << "root's file";
    fs::permissions(out, fs::perms::all);
    auto result = run("setpriv --reuid=65534 --regid=65534 --clear-groups " + shellQuote(cli) +
                      " export " + files() + " --output " + shellQuote(out.string()));
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("file error 1: could not replace "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("another user"), std::string::npos) << "refused before encoding";
    EXPECT_EQ(test::readFile(out), "root's file");
    EXPECT_EQ(test::folderEntries(shared), std::vector<std::string>{"out.mov"});
}

// An export of a clip long enough to be stopped part-way, running in the background.
class RunningExportTest : public ExportCommandTest {
protected:
    fs::path longClip = dir / "long.mp4";
    fs::path out = dir / "out.mov";

    void SetUp() override {
        ExportCommandTest::SetUp();
        makeClip("-f lavfi -i testsrc2=size=640x360:rate=25:duration=20 -c:v libx264 -preset "
                 "ultrafast",
                 longClip);
    }

    std::vector<std::string> partials() const {
        std::vector<std::string> found;
        for (const auto& name : test::folderEntries(dir.path()))
            if (name.find(".vantrel-partial-") != std::string::npos)
                found.push_back(name);
        return found;
    }

    // Starts the export and returns once its partial file exists, with its pid.
    std::pair<std::future<test::CommandResult>, pid_t> start(const std::string& prefix = "") {
        fs::remove(dir / "pid");
        auto done = std::async(std::launch::async, [this, prefix] {
            return run(prefix + shellQuote(cli) + " export --job " + shellQuote(job.string()) +
                       " --input " + shellQuote(longClip.string()) + " --output " +
                       shellQuote(out.string()) + " --preset slow & echo $! > " +
                       shellQuote((dir / "pid").string()) + "; wait $!");
        });
        std::string pid;
        for (int i = 0; i < 400 && (pid.empty() || partials().empty()); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            std::ifstream(dir / "pid") >> pid;
        }
        EXPECT_FALSE(pid.empty());
        EXPECT_FALSE(partials().empty()) << "the export never started writing";
        return {std::move(done), pid.empty() ? 0 : std::stoi(pid)};
    }
};

// However the run is stopped, it exits 130 and leaves the earlier output and no
// partial file: SIGHUP is a stop like SIGTERM, and a second Ctrl-C that leaves at
// once still cleans up.
TEST_F(RunningExportTest, SignalsStopCleanly) {
    const struct {
        const char* name;
        std::vector<int> signals;
    } cases[] = {{"Ctrl-C", {SIGINT}},
                 {"SIGTERM", {SIGTERM}},
                 {"SIGHUP", {SIGHUP}},
                 {"Ctrl-C twice", {SIGINT, SIGINT}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(out) << "an earlier export";
        auto [done, pid] = start();
        ASSERT_GT(pid, 0);
        for (int signal : c.signals) {
            ::kill(pid, signal);
            // Apart, or the two would arrive as one.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        auto result = done.get();
        EXPECT_EQ(result.exitCode, 130) << result.err;
        EXPECT_EQ(test::readFile(out), "an earlier export");
        EXPECT_EQ(partials(), std::vector<std::string>{});
    }
}

// A file-size limit makes the write fail (EFBIG) instead of killing the process.
TEST_F(RunningExportTest, FileSizeLimitFailsTheRunCleanly) {
    auto limited = run("ulimit -f 64; " + shellQuote(cli) + " export --job " +
                       shellQuote(job.string()) + " --input " + shellQuote(longClip.string()) +
                       " --output " + shellQuote(out.string()) + " --preset ultrafast");
    EXPECT_EQ(limited.exitCode, 1) << limited.err;
    EXPECT_NE(limited.err.find("File too large"), std::string::npos) << limited.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(partials(), std::vector<std::string>{});
}

// After SIGKILL a partial stays, unavoidably; the next run for the same output
// removes it, and leaves alone what belongs to another output.
TEST_F(RunningExportTest, NextRunRemovesWhatAKilledRunLeft) {
    auto [done, pid] = start();
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGKILL);
    EXPECT_EQ(done.get().exitCode, 128 + SIGKILL);
    auto left = partials();
    ASSERT_EQ(left.size(), 1u);
    auto another = dir / ("." + left[0].substr(1).replace(0, 3, "abc"));
    std::ofstream(another) << "another output's partial";
    fs::last_write_time(another, fs::last_write_time(another) - std::chrono::hours(1));

    auto result =
        vantrel("export " + files() + " --preset ultrafast --output " + shellQuote(out.string()));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(partials(), std::vector<std::string>{another.filename().string()});
}

} // namespace
} // namespace vantrel
