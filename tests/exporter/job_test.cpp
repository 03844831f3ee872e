// Job file decoding: what decodes to what, and which error each broken file gives.

#include <string>

#include <gtest/gtest.h>

#include "exporter/job.hpp"

namespace vantrel {
namespace {

using Kind = JobDecodingError::Kind;

const std::string grade = R"("grade": {"lutCube": "LUT_3D_SIZE 2"})";

Job decodeWith(const std::string& members) {
    return Job::decode("{" + members + (members.empty() ? "" : ", ") + grade + "}");
}

TEST(JobDecoding, CompleteJob) {
    const auto job = Job::decode(R"({"version": 1, "output": {"fps": 25, "maxWidth": 1920,
        "targetBitrate": 20000000, "container": "mp4"}, "grade": {"lutCube": "LUT_3D_SIZE 33\n"}})");
    EXPECT_EQ(job.version(), 1);
    ASSERT_TRUE(job.output());
    EXPECT_EQ(job.output()->fps(), 25.0);
    EXPECT_EQ(job.output()->maxWidth(), 1920);
    EXPECT_EQ(job.output()->targetBitrate(), 20000000);
    EXPECT_EQ(job.output()->container(), "mp4");
    EXPECT_EQ(job.grade().lutCube(), "LUT_3D_SIZE 33\n");
}

TEST(JobDecoding, OutputSectionAbsentNullOrEmpty) {
    EXPECT_FALSE(decodeWith(R"("version": 1)").output());
    EXPECT_FALSE(decodeWith(R"("version": 1, "output": null)").output());
    const auto empty =
        decodeWith(R"("version": 1, "output": {"fps": null, "other": [1]})").output();
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->fps() || empty->maxWidth() || empty->targetBitrate() || empty->container());
}

TEST(JobDecoding, NumbersInAnySpellingOfTheirValue) {
    auto output = [](const std::string& members) {
        return *decodeWith(R"("version": 1, "output": {)" + members + "}").output();
    };
    EXPECT_EQ(output(R"("fps": 30)").fps(), output(R"("fps": 30.0)").fps());
    EXPECT_EQ(output(R"("fps": -2)").fps(), -2.0);
    EXPECT_EQ(output(R"("targetBitrate": 2e7)").targetBitrate(), 20000000);
    EXPECT_EQ(output(R"("targetBitrate": 20000000.000)").targetBitrate(), 20000000);
    EXPECT_EQ(output(R"("maxWidth": 1E3)").maxWidth(), 1000);
    EXPECT_EQ(decodeWith(R"("version": -9223372036854775808)").version(), INT64_MIN);
    EXPECT_EQ(decodeWith(R"("version": -9223372036854775808.0)").version(), INT64_MIN);
    EXPECT_EQ(decodeWith(R"("version": 9223372036854775807)").version(), INT64_MAX);
    EXPECT_EQ(decodeWith(R"("version": 0)").version(), 0);
}

TEST(JobDecoding, KeysAreExactAndUnknownOnesIgnored) {
    const auto job = Job::decode(R"({"Version": "x", "version": 2, "comment": {"deep": [[{}]]},
        "output": {"FPS": "x", "fps_": 1, "container": "MP4"},
        "grade": {"lutcube": 1, "lutCube": "", "future": null}})");
    EXPECT_EQ(job.version(), 2);
    EXPECT_FALSE(job.output()->fps());
    EXPECT_EQ(job.output()->container(), "MP4");
    EXPECT_EQ(job.grade().lutCube(), "");
}

TEST(JobDecoding, UnicodeTextSurvives) {
    const auto job =
        Job::decode("{\"version\": 1, \"output\": {\"container\": \"m\u00f6v \\ud83c\\udfa8\"}, "
                    "\"grade\": {\"lutCube\": \"TITLE \\\"\u00e9\u2028\\\"\\r\\n\\u0000x\"}}");
    EXPECT_EQ(job.output()->container(), "m\u00f6v \U0001F3A8");
    EXPECT_EQ(job.grade().lutCube(), std::string("TITLE \"\u00e9\u2028\"\r\n") + '\0' + "x");
}

struct Broken {
    const char* name;
    std::string json;
    Kind kind;
    std::string where; // "section.key": ".version" for a top-level key, "." for the document
};

std::string withVersion(const std::string& v) {
    return R"({"version": )" + v + ", " + grade + "}";
}
std::string withOutput(const std::string& o) {
    return R"({"version": 1, "output": )" + o + ", " + grade + "}";
}

class BrokenJob : public testing::TestWithParam<Broken> {};

TEST_P(BrokenJob, FailsWithKindAndPlace) {
    const auto& c = GetParam();
    try {
        Job::decode(c.json);
        FAIL() << "decoded " << c.json;
    } catch (const JobDecodingError& e) {
        EXPECT_EQ(e.kind(), c.kind) << e.description();
        EXPECT_EQ(e.path() + "." + e.key(), c.where) << e.description();
        EXPECT_EQ(e.domain(), "job");
        EXPECT_EQ(e.code(), static_cast<int>(c.kind));
        EXPECT_NE(e.description().find(e.summary()), std::string::npos);
    }
}

using enum JobDecodingError::Kind;

INSTANTIATE_TEST_SUITE_P(
    Kinds, BrokenJob,
    testing::Values(
        Broken{"empty", "", dataCorrupted, "."},
        Broken{"trailingText", withVersion("1") + " x", dataCorrupted, "."},
        Broken{"invalidUtf8", withOutput("{\"container\": \"\xC3\x28\"}"), dataCorrupted, "."},
        Broken{"numberOverflow", withOutput(R"({"fps": 1e400})"), dataCorrupted, "."},
        Broken{"topArray", "[]", typeMismatch, "."},
        Broken{"noVersion", "{" + grade + "}", keyNotFound, ".version"},
        Broken{"capitalVersionOnly", R"({"Version": 1, )" + grade + "}", keyNotFound, ".version"},
        Broken{"nullVersion", withVersion("null"), valueNotFound, ".version"},
        Broken{"stringVersion", withVersion(R"("1")"), typeMismatch, ".version"},
        Broken{"fractionalVersion", withVersion("1.5"), dataCorrupted, ".version"},
        Broken{"almostInteger", withVersion("1.00000000000000001"), dataCorrupted, ".version"},
        Broken{"aboveInt64", withVersion("9223372036854775808"), dataCorrupted, ".version"},
        Broken{"aboveInt64AsFloat", withVersion("9.223372036854775808e18"), dataCorrupted,
               ".version"},
        Broken{"belowInt64", withVersion("-9223372036854775809"), dataCorrupted, ".version"},
        Broken{"noGrade", R"({"version": 1})", keyNotFound, ".grade"},
        Broken{"nullGrade", R"({"version": 1, "grade": null})", valueNotFound, ".grade"},
        Broken{"noLut", R"({"version": 1, "grade": {}})", keyNotFound, "grade.lutCube"},
        Broken{"nullLut", R"({"version": 1, "grade": {"lutCube": null}})", valueNotFound,
               "grade.lutCube"},
        Broken{"numberLut", R"({"version": 1, "grade": {"lutCube": 5}})", typeMismatch,
               "grade.lutCube"},
        Broken{"arrayOutput", withOutput("[]"), typeMismatch, ".output"},
        Broken{"stringFps", withOutput(R"({"fps": "30"})"), typeMismatch, "output.fps"},
        Broken{"fractionalMaxWidth", withOutput(R"({"maxWidth": 1.5})"), dataCorrupted,
               "output.maxWidth"},
        Broken{"numberContainer", withOutput(R"({"container": 4})"), typeMismatch,
               "output.container"},
        // The first failure in decoding order wins, whatever the document order.
        Broken{"versionBeforeOutput", R"({"output": 1, "grade": 1})", keyNotFound, ".version"},
        Broken{"outputBeforeGrade", R"({"grade": 1, "output": 1, "version": 1})", typeMismatch,
               ".output"},
        Broken{"fpsBeforeContainer", withOutput(R"({"container": 4, "fps": "x"})"), typeMismatch,
               "output.fps"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobDecoding, DescriptionNamesKindKeyAndPlace) {
    try {
        Job::decode(R"({"version": 1, "grade": {}})");
        FAIL();
    } catch (const JobDecodingError& e) {
        EXPECT_EQ(e.summary(), R"(keyNotFound: "lutCube" at grade)");
        EXPECT_EQ(e.description(),
                  R"(Error Domain=job Code=3 "The job file lacks a required key." )"
                  R"((keyNotFound: "lutCube" at grade))");
    }
}

} // namespace
} // namespace vantrel
