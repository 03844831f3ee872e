// vantrel-cli export and plan as a user runs them: exit codes, streams, files, and
// the signals that stop a run.

#include <csignal>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.hpp"

namespace vantrel {
namespace {

using test::shellQuote;
namespace fs = std::filesystem;

class ExportCommandTest : public ::testing::Test {
protected:
    test::ScratchDir dir;
    fs::path clip = dir / "clip.mp4";
    fs::path out = dir / "out.mov";

    void SetUp() override {
        test::writeJob(dir / "job.json");
        test::makeClip(
            "-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 -c:v libx264 -pix_fmt yuv420p",
            clip);
    }
    // `vantrel-cli <verb> --job … --input … <rest>`; "{out}" in `rest` is the output.
    std::string cli(const std::string& verb, std::string rest = "") const {
        if (auto at = rest.find("{out}"); at != std::string::npos)
            rest.replace(at, 5, "--output " + shellQuote(out));
        return shellQuote(VANTREL_CLI_PATH) + " " + verb + " --job " +
               shellQuote(dir / "job.json") + " --input " + shellQuote(clip) + " " + rest;
    }
    std::string lut(const std::string& name, const std::string& text) const {
        test::writeFile(dir / name, text);
        return " --lut " + shellQuote(dir / name);
    }
};

TEST_F(ExportCommandTest, ExportsNextToTheInputOrFailsWithTheReasonOnStderr) {
    auto result = test::run(cli("export", "--preset ultrafast"));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Done: " + (dir / "clip_vantrel_10bit.mp4").string() + "\n");
    EXPECT_EQ(result.err, "") << "no progress line when stderr is not a terminal";
    // MPEG-4 output carries the HEVC tag players look for.
    EXPECT_EQ(test::probe(dir / "clip_vantrel_10bit.mp4")["streams"][0]["codec_tag_string"],
              "hvc1");

    auto badLut = test::run(cli("export", "{out}" + lut("bad.cube", "LUT_3D_SIZE 2\n0 0 0\n")));
    EXPECT_EQ(badLut.exitCode, 1);
    EXPECT_EQ(badLut.out, "");
    EXPECT_TRUE(test::reportsError(badLut.err, "cube", 2)) << badLut.err;
    EXPECT_FALSE(fs::exists(out));
}

// What a LUT did not apply is said on stderr, once, by plan and by export; the run
// goes on. The plan is JSON on stdout, with the bitrate as typed, and writes nothing.
TEST_F(ExportCommandTest, PlanAndWarnings) {
    auto plan =
        test::run(cli("plan", "--bitrate-mbps 12,5 {out}" +
                                  lut("surplus.cube", test::identityCube + "0.5 0.5 0.5\n")));
    ASSERT_EQ(plan.exitCode, 0) << plan.err;
    EXPECT_FALSE(fs::exists(out));
    auto json = nlohmann::json::parse(plan.out);
    EXPECT_EQ(json["targetBitrate"], 12500000);
    auto exported =
        test::run(cli("export", "--preset ultrafast {out}" +
                                    lut("rowless.cube", "LUT_1D_SIZE 4\n" + test::identityCube)));
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    for (const auto& [result, warning] :
         {std::pair{plan, "1 more entries"}, std::pair{exported, "declares LUT_1D_SIZE 4"}}) {
        EXPECT_EQ(result.err.rfind("vantrel-cli: warning: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(warning), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

// An HLG source is named by plan and by export, since the output says BT.709; plan
// lists the sound it would copy, and --audio none leaves it out.
TEST_F(ExportCommandTest, SourceKindIsSaidAndPlanListsTheCopiedSound) {
    test::makeClip("-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 -f lavfi -i sine=d=0.2 "
                   "-pix_fmt yuv420p -color_primaries bt2020 -color_trc arib-std-b67 "
                   "-metadata:s:a:0 language=fra",
                   clip);
    auto plan = test::run(cli("plan", "--audio copy {out}"));
    auto exported = test::run(cli("export", "--audio none {out}"));
    for (const auto& result : {plan, exported})
        EXPECT_NE(result.err.find("warning: the source is HLG (BT.2020)"), std::string::npos)
            << result.err;
    EXPECT_EQ(nlohmann::json::parse(plan.out)["copied"]["audio"].dump(),
              R"([{"codec":"aac","index":1,"language":"fra"}])");
    EXPECT_EQ(test::probe(out)["streams"].size(), 1u);
}

// A hostile command line loses nothing: the finished file is synced before the
// rename (and its folder after); closed descriptors 0-2 (while FFmpeg logs) or a
// reader that went away neither spoil the movie nor fail the export. (What the files
// layer refuses, a FIFO among them, is proven there.)
TEST_F(ExportCommandTest, HostileStreamsAndFilesLoseNothing) {
    const auto decoded = [&] {
        return test::run("ffmpeg -v error -i " + shellQuote(out) + " -f md5 -").out;
    };
    if (test::run("command -v strace").exitCode == 0) {
        // LeakSanitizer cannot work under ptrace: an instrumented build skips it here.
        const auto calls = test::run("ASAN_OPTIONS=detect_leaks=0 strace -fqq -e fsync,renameat " +
                                     cli("export", "{out}"))
                               .err;
        const auto rename = calls.find("renameat(");
        EXPECT_TRUE(calls.find("fsync(") < rename && calls.rfind("fsync(") > rename) << calls;
    }
    const auto plain = decoded();
    std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"VANTREL_LOG=debug " + cli("export", "{out}") + " <&- >&- 2>&-", 0, ""},
        {"(" + cli("export", "{out}") + "; echo exit $? >&2) | true", 0, "exit 0"}};
    // Where mounts may be made, each in a namespace of its own: a file mounted at the
    // output, and a read-only file system under a writable output, refused up front.
    if (test::run("unshare -m true").exitCode == 0) {
        const auto mounted = [&](const std::string& how, const fs::path& from, const fs::path& at) {
            return "touch " + shellQuote(out) + " && unshare -m sh -c " +
                   shellQuote("mount --bind " + how + shellQuote(from) + " " + shellQuote(at) +
                              " && exec " + cli("export", "{out}"));
        };
        test::writeFile(dir / "other.mov", "");
        cases.emplace_back(mounted("", dir / "other.mov", out), 1, "it is a mount point");
        cases.emplace_back(mounted("-o ro ", dir.path(), dir.path()), 1,
                           "the file system is read-only");
    }
    for (const auto& [command, code, message] : cases) {
        fs::remove(out);
        auto result = test::run(command);
        EXPECT_EQ(result.exitCode, code) << command << result.err;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_EQ(decoded(), code == 0 ? plain : "") << command;
    }
}

// However the run is stopped it exits 130, with the earlier output as it was and no
// partial file: SIGHUP is a stop like SIGTERM, and a second signal while the first
// is still unwinding leaves at once but still removes the partial file. (Stopped,
// the process holds both signals until it goes on, so the second one certainly
// lands during the first one's unwinding.) A file-size limit makes the write fail
// (EFBIG, exit 1) instead of killing the process.
TEST_F(ExportCommandTest, SignalsStopCleanly) {
    test::makeClip(
        "-f lavfi -i testsrc2=size=640x360:rate=25:duration=20 -c:v libx264 -preset ultrafast",
        clip);
    const std::vector<std::vector<int>> cases = {
        {SIGINT}, {SIGTERM}, {SIGHUP}, {SIGSTOP, SIGINT, SIGTERM, SIGCONT}};
    for (const auto& signals : cases) {
        SCOPED_TRACE(::testing::PrintToString(signals));
        test::writeFile(out, "an earlier export");
        test::Background run("exec " + cli("export", "--preset slow {out}"));
        ASSERT_TRUE(test::waitForChange(dir.path(),
                                        [&] { return !test::partialFiles(dir.path()).empty(); }));
        for (int signal : signals)
            ::kill(run.pid(), signal);
        auto result = run.wait();
        EXPECT_EQ(result.exitCode, 130) << result.err;
        EXPECT_EQ(test::readFile(out), "an earlier export");
        EXPECT_EQ(test::partialFiles(dir.path()), std::vector<std::string>{});
    }
    fs::remove(out);
    auto limited = test::run("ulimit -f 64; " + cli("export", "--preset ultrafast {out}"));
    EXPECT_EQ(limited.exitCode, 1) << limited.err;
    EXPECT_NE(limited.err.find("File too large"), std::string::npos) << limited.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(test::partialFiles(dir.path()), std::vector<std::string>{});
}

} // namespace
} // namespace vantrel
