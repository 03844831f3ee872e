// vantrel-cli as a user runs it: exit codes, which stream says what, and the JSON shapes
// of `lut` and `job`.

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace vantrel {
namespace {

using test::run;
using test::shellQuote;

test::CommandResult cli(const std::string& args) {
    return run(std::string(VANTREL_CLI_PATH) + " " + args);
}

class InspectCommands : public testing::Test {
protected:
    std::string file(const std::string& name, const std::string& contents) {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary) << contents;
        return shellQuote(path.string());
    }
    test::ScratchDir dir_;
};

const std::string lutText = "LUT_3D_SIZE 2\n0 0.1 -1\n1 0 nan\n0 1 inf\n1 1 0.5\n"
                            "0 0 0.5\n1 0 0.5\n0 1 0.5\n1 1 0.5\n";
const std::string lutJsonString =
    R"("LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1")";

TEST(CommandLine, VersionHelpAndUsageErrors) {
    auto version = cli("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "vantrel-cli 0.1.0\n");
    auto help = cli("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("lut"), std::string::npos);
    for (const char* wrong : {"", "frobnicate", "lut", "lut a.cube --frobnicate", "job --json"}) {
        auto result = cli(wrong);
        EXPECT_EQ(result.exitCode, 2) << wrong;
        EXPECT_EQ(result.out, "") << wrong;
        EXPECT_NE(result.err, "") << wrong;
    }
}

TEST_F(InspectCommands, LutPrintsSizeEntriesAndChannelRanges) {
    const auto path = file("look.cube", lutText);
    auto json = cli("lut --json " + path);
    EXPECT_EQ(json.exitCode, 0) << json.err;
    // NaN takes no part in a range; an infinite bound has no JSON number and is null.
    EXPECT_EQ(json.out,
              "{\"size\":2,\"entries\":8,\"min\":[0.0,0.0,-1.0],\"max\":[1.0,1.0,null]}\n");
    auto text = cli("lut " + path);
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("LUT size: 2"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("0 to 1"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("-1 to inf"), std::string::npos) << text.out;
}

TEST_F(InspectCommands, LutFailuresGoToStderrWithExitOne) {
    auto missing = cli("lut " + shellQuote((dir_ / "none.cube").string()));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err.rfind("Error Domain=file Code=2 ", 0), 0u) << missing.err;
    auto bad = cli("lut --json " + file("short.cube", "LUT_3D_SIZE 2\n0 0 0\n"));
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err,
              "Error Domain=cube Code=2 \"The LUT has fewer entries than its size needs.\"\n");
}

TEST_F(InspectCommands, JobJsonShapes) {
    auto complete = cli("job --json " + file("full.json", R"({"version": 1, "output": {"fps": 25,
        "maxWidth": 1920, "targetBitrate": 20000000, "container": "mp4"}, "grade": {"lutCube": )" +
                                                              lutJsonString + "}}"));
    EXPECT_EQ(complete.exitCode, 0) << complete.err;
    EXPECT_EQ(complete.out, R"({"version":1,"output":{"fps":25.0,"maxWidth":1920,)"
                            R"("targetBitrate":20000000,"container":"mp4"},"lutSize":2})"
                            "\n");
    auto minimal = cli("job --json " + file("min.json", R"({"version": 1, "grade": {"lutCube": )" +
                                                            lutJsonString + "}}"));
    EXPECT_EQ(minimal.out, "{\"version\":1,\"output\":null,\"lutSize\":2}\n");
    auto empty = cli("job " + file("empty.json", R"({"version": 7, "output": {}, "grade":
        {"lutCube": )" + lutJsonString + "}}"));
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_NE(empty.out.find("Version: 7"), std::string::npos) << empty.out;
    EXPECT_NE(empty.out.find("container:     absent"), std::string::npos) << empty.out;
}

TEST_F(InspectCommands, JobFailsOnDecodingOrOnItsLut) {
    auto undecodable = cli("job " + file("bad.json", R"({"version": 1, "grade": {}})"));
    EXPECT_EQ(undecodable.exitCode, 1);
    EXPECT_EQ(undecodable.out, "");
    EXPECT_NE(undecodable.err.find(R"(Error Domain=job Code=3 )"), std::string::npos);
    EXPECT_NE(undecodable.err.find(R"((keyNotFound: "lutCube" at grade))"), std::string::npos);
    auto badLut =
        cli("job --json " + file("badlut.json", R"({"version": 1, "grade": {"lutCube": ""}})"));
    EXPECT_EQ(badLut.exitCode, 1);
    EXPECT_EQ(badLut.out, "");
    EXPECT_EQ(badLut.err.rfind("Error Domain=cube Code=1 ", 0), 0u) << badLut.err;
}

} // namespace
} // namespace vantrel
