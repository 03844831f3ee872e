// vantrel-cli as a user runs it, for the verbs that print: exit codes, which stream
// says what, the JSON shapes, and usage errors of every verb.

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace vantrel {
namespace {

// Each command runs in a folder holding these files; a failure (exit 1, or 2 for
// usage) prints nothing on stdout, writes nothing and names its error's domain and
// code. NaN takes no part in a LUT's range; an infinite bound is null in JSON.
TEST(CommandLine, PrintsOrFails) {
    test::ScratchDir dir;
    const std::string lut =
        R"("LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1")";
    test::writeFile(dir / "look.cube", "LUT_3D_SIZE 2\n0 0.1 -1\n1 0 nan\n0 1 inf\n1 1 0.5\n"
                                       "0 0 0.5\n1 0 0.5\n0 1 0.5\n1 1 0.5\n");
    test::writeFile(dir / "shaped.cube",
                    "LUT_1D_SIZE 2\nLUT_1D_INPUT_RANGE -1 3\n0 0 0\n1 1 1\n" + test::identityCube);
    test::writeFile(dir / "latin1.cube", test::identityCube + "# \xE9");
    test::writeFile(dir / "full.json", R"({"version": 1, "output": {"fps": 25, "maxWidth": 1920,
        "targetBitrate": 20000000, "container": "mp4", "audio": "copy"}, "grade": {"lutCube": )" +
                                           lut + "}}");
    test::writeFile(dir / "min.json", R"({"version": 1, "grade": {"lutCube": )" + lut + "}}");
    test::writeFile(dir / "badlut.json", R"({"version": 1, "grade": {"lutCube": ""}})");
    // Planning reads names only: empty files stand in for clips.
    for (const char* clip : {"r/a.mp4", "r/b.mov", "r/c.mp4"}) {
        std::filesystem::create_directories((dir / clip).parent_path());
        test::writeFile(dir / clip, "");
    }
    const std::string batch = "batch --job min.json --output-dir o ";
    const struct {
        std::string args;
        int exitCode;
        std::string out, err, domain = "";
        int code = 0;
    } cases[] = {{"--version", 0, "vantrel-cli " VANTREL_VERSION "\n", ""},
                 {"lut look.cube --frobnicate", 2, "", "--help"},
                 {"frob", 2, "", "subcommand"},
                 {"export --input r/a.mp4", 2, "", "--job"},
                 {"export --job min.json --input r/a.mp4 --preset warp", 2, "", "warp"},
                 {"plan --job min.json --input r/a.mp4 --strength 1.5", 2, "", "--strength"},
                 {batch + "--interpolation cubic r", 2, "", "cubic"},
                 {"plan --job /no.json --input /no.mp4", 2, "", "/no.json"},
                 {batch + "--jobs 0 r", 2, "", "--jobs"},
                 {batch + "--list --shard 1/2 r", 0, "r/b.mov \u2192 o/b_vantrel_10bit.mov\n", ""},
                 {"lut --json look.cube", 0,
                  R"({"size":2,"entries":8,"min":[0.0,0.0,-1.0],"max":[1.0,1.0,null],)"
                  R"("warnings":[],"file":{"lut1dSize":null,"lut1dInputRange":null,"lut3dSize":2,)",
                  ""},
                 {"lut shaped.cube", 0, "Applied:  baked into a 2-point cube over -1 to 3\n", ""},
                 {"lut latin1.cube", 1, "", "not UTF-8", "file", EILSEQ},
                 {"lut look.cube", 0, "Green:    0 to 1\nBlue:     -1 to inf\n", ""},
                 {"job --json full.json", 0,
                  R"({"version":1,"output":{"fps":25.0,"maxWidth":1920,"targetBitrate":20000000,)"
                  R"("container":"mp4","audio":"copy","metadata":"none"},"lutSize":2,)"
                  R"("interpolation":"trilinear","strength":1.0})",
                  ""},
                 {"job min.json", 0, "Version: 1\nOutput: absent\nLUT size: 2\n", ""},
                 {"job --json badlut.json", 1, "", "", "cube", 1}};
    const auto before = test::folderEntries(dir.path());
    for (const auto& c : cases) {
        const auto result = test::run("cd " + test::shellQuote(dir.path()) + " && " +
                                      VANTREL_CLI_PATH + " " + c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.args << ": " << result.err;
        EXPECT_NE(result.out.find(c.out), std::string::npos) << c.args << ": " << result.out;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.args << ": " << result.err;
        EXPECT_TRUE(c.domain.empty() || test::reportsError(result.err, c.domain, c.code)) << c.args;
        EXPECT_TRUE(c.exitCode == 0 ? result.out.find("a.mp4") == std::string::npos
                                    : result.out.empty())
            << c.args;
        EXPECT_EQ(test::folderEntries(dir.path()), before) << c.args;
    }
}

} // namespace
} // namespace vantrel
