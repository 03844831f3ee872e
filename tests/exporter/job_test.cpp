// Job file decoding: what decodes to what, and which error each broken file gives.

#include <string>

#include <gtest/gtest.h>

#include "exporter/job.hpp"

namespace vantrel {
namespace {

using enum JobDecodingError::Kind;

const std::string grade = R"("grade": {"lutCube": "LUT_3D_SIZE 2"})";

std::string withVersion(const std::string& v) {
    return R"({"version": )" + v + ", " + grade + "}";
}
std::string withOutput(const std::string& o) {
    return R"({"version": 1, "output": )" + o + ", " + grade + "}";
}
JobDecodingError decodingError(const std::string& json) {
    try {
        Job::decode(json);
    } catch (const JobDecodingError& e) {
        return e;
    }
    ADD_FAILURE() << "decoded " << json;
    return JobDecodingError(dataCorrupted, "none", "none");
}
Job::Output output(const std::string& members) {
    return Job::decode(withOutput("{" + members + "}")).output().value();
}

TEST(JobDecoding, OutputSectionAndNumbersInAnySpellingOfTheirValue) {
    EXPECT_FALSE(Job::decode(withVersion("1")).output());
    EXPECT_FALSE(Job::decode(withOutput("null")).output());
    const auto empty = output(R"("fps": null, "other": [1])");
    EXPECT_FALSE(empty.fps() || empty.maxWidth() || empty.targetBitrate() || empty.container());
    EXPECT_EQ(output(R"("fps": 25)").fps(), 25.0);
    EXPECT_EQ(output(R"("targetBitrate": 2e7)").targetBitrate(), 20000000);
    EXPECT_EQ(output(R"("maxWidth": 1000.000)").maxWidth(), 1000);
    EXPECT_EQ(Job::decode(withVersion("9223372036854775807")).version(), INT64_MAX);
}

TEST(JobDecoding, KeysAreExactUnknownOnesIgnoredAndTextKept) {
    const auto job =
        Job::decode("{\"Version\": \"x\", \"version\": 2, \"comment\": {\"d\": [[{}]]}, "
                    "\"output\": {\"FPS\": \"x\", \"fps_\": 1, \"container\": "
                    "\"M\u00f6V \\ud83c\\udfa8\"}, \"grade\": {\"lutcube\": 1, "
                    "\"lutCube\": \"\\\"\u2028\\r\\n\\u0000x\", \"future\": null}}");
    EXPECT_EQ(job.version(), 2);
    EXPECT_FALSE(job.output()->fps());
    EXPECT_EQ(job.output()->container(), "M\u00f6V \U0001F3A8");
    EXPECT_EQ(job.grade().lutCube(), std::string("\"\u2028\r\n") + '\0' + "x");
}

// An interpolation this version does not know is the default, not a failure.
TEST(JobDecoding, GradeOptionsWithTheirDefaults) {
    const auto options = [](const std::string& members) {
        return Job::decode(R"({"version": 1, "grade": {"lutCube": "")" + members + "}}")
            .grade()
            .options();
    };
    EXPECT_EQ(options("").interpolation, Interpolation::trilinear);
    EXPECT_EQ(options(R"(, "interpolation": "tetrahedral")").interpolation,
              Interpolation::tetrahedral);
    EXPECT_EQ(options(R"(, "interpolation": "Tetrahedral", "strength": null)").interpolation,
              Interpolation::trilinear);
    EXPECT_EQ(options(R"(, "interpolation": 4, "strength": 0.5)").strength, 0.5);
}

TEST(JobDecoding, BrokenFilesFailWithKindAndPlace) {
    const struct {
        std::string json;
        JobDecodingError::Kind kind;
        std::string where; // "section.key": ".version" for a top-level key, "." for the document
    } cases[] = {
        {withOutput("{\"container\": \"\xC3\x28\"}"), dataCorrupted, "."},
        {"[]", typeMismatch, "."},
        {"{" + grade + "}", keyNotFound, ".version"},
        {withVersion("null"), valueNotFound, ".version"},
        {withVersion(R"("1")"), typeMismatch, ".version"},
        {withVersion("1.00000000000000001"), dataCorrupted, ".version"},
        {withVersion("-9223372036854775809"), dataCorrupted, ".version"},
        {R"({"version": 1})", keyNotFound, ".grade"},
        {R"({"version": 1, "grade": {"lutCube": null}})", valueNotFound, "grade.lutCube"},
        {withOutput(R"({"maxWidth": 1.5})"), dataCorrupted, "output.maxWidth"},
        {withOutput(R"({"container": 4})"), typeMismatch, "output.container"},
        // The first failure in decoding order wins, whatever the document order.
        {R"({"output": 1, "grade": 1})", keyNotFound, ".version"},
        {R"({"grade": 1, "output": 1, "version": 1})", typeMismatch, ".output"},
        {withOutput(R"({"container": 4, "fps": "x"})"), typeMismatch, "output.fps"},
        // Arrays and deeper values are not kept, but their type still shows.
        {withOutput("[1, 2]"), typeMismatch, ".output"},
        {R"({"version": 1, "grade": {"lutCube": "", "strength": 1.01}})", dataCorrupted,
         "grade.strength"},
    };
    for (const auto& c : cases) {
        const auto e = decodingError(c.json);
        EXPECT_TRUE(e.is(c.kind)) << e.description();
        EXPECT_EQ(e.path() + "." + e.key(), c.where) << e.description();
    }
    EXPECT_EQ(
        decodingError(R"({"version": 1, "grade": {}})").description(),
        R"(job error 3: the job file lacks a required key (keyNotFound: "lutCube" at grade))");
}

// Neither a huge nor a deeply nested file may tie up memory: both are refused up
// front, with their limit in the message, and everything within the limits decodes.
TEST(JobDecoding, SizeAndNestingAreLimited) {
    const auto nested = [](std::size_t depth) {
        // `depth` levels in all: the document and the comment's nested arrays.
        return R"({"version": 1, )" + grade + R"(, "comment": )" + std::string(depth - 1, '[') +
               std::string(depth - 1, ']') + "}";
    };
    EXPECT_EQ(Job::decode(nested(maxJobNesting)).version(), 1);
    EXPECT_NE(decodingError(nested(maxJobNesting + 1)).description().find("deeper than 64"),
              std::string::npos);
    EXPECT_TRUE(decodingError(std::string(1'000'000, '{')).is(dataCorrupted));

    // Padded with white space to exactly the limit, and one byte beyond it.
    std::string full = withVersion("7");
    full.append(maxJobFileBytes - full.size(), ' ');
    EXPECT_EQ(Job::decode(full).version(), 7);
    full += ' ';
    const auto large = decodingError(full);
    EXPECT_TRUE(large.is(dataCorrupted));
    EXPECT_NE(large.detail().find("larger than 64 MiB"), std::string::npos);
}

} // namespace
} // namespace vantrel
