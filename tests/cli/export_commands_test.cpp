// vantrel-cli export and plan as a user runs them: exit codes, streams, files, and
// the signals that stop a run.

#include <csignal>
#include <string>
#include <unistd.h>

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
        test::writeIdentityJob(dir / "job.json");
        test::makeClip(
            "-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 -c:v libx264 -pix_fmt yuv420p",
            clip);
    }
    // `vantrel-cli <verb> --job … --input … <rest>`; "{out}" in `rest` is the output.
    std::string cli(const std::string& verb, std::string rest = "") const {
        if (auto at = rest.find("{out}"); at != std::string::npos)
            rest.replace(at, 5, "--output " + shellQuote(out.string()));
        return shellQuote(VANTREL_CLI_PATH) + " " + verb + " --job " +
               shellQuote((dir / "job.json").string()) + " --input " + shellQuote(clip.string()) +
               " " + rest;
    }
    std::string lut(const std::string& name, const std::string& text) const {
        test::writeFile(dir / name, text);
        return " --lut " + shellQuote((dir / name).string());
    }
};

TEST_F(ExportCommandTest, ExportsNextToTheInputOrFailsWithTheReasonOnStderr) {
    auto result = test::run(cli("export", "--preset ultrafast"));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Done: " + (dir / "clip_vantrel_10bit.mp4").string() + "\n");
    EXPECT_EQ(result.err, "") << "no progress line when stderr is not a terminal";
    EXPECT_TRUE(fs::exists(dir / "clip_vantrel_10bit.mp4"));

    auto badLut = test::run(cli("export", "{out}" + lut("bad.cube", "LUT_3D_SIZE 2\n0 0 0\n")));
    EXPECT_EQ(badLut.exitCode, 1);
    EXPECT_EQ(badLut.out, "");
    EXPECT_TRUE(test::reportsError(badLut.err, "cube", 2)) << badLut.err;
    EXPECT_FALSE(fs::exists(out));
    auto ontoInput = test::run(cli("export", "--output " + shellQuote(clip.string())));
    EXPECT_EQ(ontoInput.exitCode, 1);
    EXPECT_TRUE(test::reportsError(ontoInput.err, "export", 8)) << ontoInput.err;
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
    EXPECT_EQ(json["width"], 64);
    EXPECT_EQ(json["targetBitrate"], 12500000);
    auto exported =
        test::run(cli("export", "--preset ultrafast {out}" +
                                    lut("domain.cube", "DOMAIN_MAX 2 2 2\n" + test::identityCube)));
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_TRUE(fs::exists(out));
    for (const auto& [result, warning] :
         {std::pair{plan, "1 more entries"}, std::pair{exported, "DOMAIN_MAX of 2 2 2"}}) {
        EXPECT_EQ(result.err.rfind("vantrel-cli: warning: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(warning), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

// Another user's file in a shared sticky folder (such as /tmp): the rename at the
// end would be refused, so the export must be refused before it encodes.
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

TEST_F(ExportCommandTest, AnotherUsersFileInAStickyFolderIsRefusedUpFront) {
    if (::geteuid() != 0 || test::run("command -v setpriv").exitCode != 0)
        GTEST_SKIP() << "needs root to act as another user";
    out = dir / "shared/out.mov";
    fs::create_directory(dir / "shared");
    fs::permissions(dir / "shared", fs::perms::all | fs::perms::sticky_bit);
    fs::permissions(dir.path(), fs::perms::all);
    test::writeFile(out, "root's file");
    fs::permissions(out, fs::perms::all);
    auto result =
        test::run("setpriv --reuid=65534 --regid=65534 --clear-groups " + cli("export", "{out}"));
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(test::reportsError(result.err, "file", 1)) << result.err;
    EXPECT_NE(result.err.find("another user"), std::string::npos) << "refused before encoding";
    EXPECT_EQ(test::folderEntries(dir / "shared"), std::vector<std::string>{"out.mov"});
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
