// The .cube grammar: one valid sample, and each failure or leniency as one change to it.

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "exporter/exporter.hpp"

namespace vantrel {
namespace {

// A size line and `lines` entries of a size-2 identity cube (red fastest).
std::string cube(int lines, const std::string& sizeLine = "LUT_3D_SIZE 2") {
    std::string text = sizeLine + "\n";
    for (int i = 0; i < lines; ++i)
        text += std::to_string(i & 1) + " " + std::to_string(i >> 1 & 1) + " " +
                std::to_string(i >> 2 & 1) + "\n";
    return text;
}

int failureCode(const std::string& text) {
    try {
        Exporter::parseCube(text);
    } catch (const CubeError& e) {
        EXPECT_EQ(e.domain(), "cube");
        return static_cast<int>(e.code());
    }
    return 0;
}

TEST(CubeParser, ValidSampleGivesPackedRgbaInTextOrder) {
    const auto lut = Exporter::parseCube("# comment\nTITLE \"x\"\n" + cube(8));
    EXPECT_EQ(lut.size(), 2);
    ASSERT_EQ(lut.data().size(), 128u);
    for (int i = 0; i < 8; ++i) {
        const auto e = lut.entry(i);
        EXPECT_EQ(e[0], float(i & 1));
        EXPECT_EQ(e[1], float(i >> 1 & 1));
        EXPECT_EQ(e[2], float(i >> 2 & 1));
        EXPECT_EQ(e[3], 1.0f);
    }
    EXPECT_EQ(Exporter::parseCube(cube(9)).data().size(), 128u); // the ninth entry is dropped
}

struct Mutation {
    const char* name;
    std::string text;
    int code; // 0: parses
};

class CubeMutation : public testing::TestWithParam<Mutation> {};

TEST_P(CubeMutation, GivesExpectedOutcome) {
    EXPECT_EQ(failureCode(GetParam().text), GetParam().code) << GetParam().text;
}

const std::string seven = cube(7).substr(cube(0).size()); // seven data lines, no size

INSTANTIATE_TEST_SUITE_P(
    Grammar, CubeMutation,
    testing::Values(
        Mutation{"empty", "", 1}, Mutation{"commentsOnly", "# a\n\n  # b\n", 1},
        Mutation{"sevenEntries", cube(7), 2}, Mutation{"nineEntries", cube(9), 0},
        Mutation{"lowerCaseKeyword", cube(8, "lut_3d_size 2"), 0},
        Mutation{"longSKeyword", cube(8, "lut_3d_\u017Fize 2"), 0},
        Mutation{"dotlessIKeyword", cube(8, "LUT_3D_S\u0131ZE 2"), 0},
        Mutation{"fractionalSize", cube(8, "LUT_3D_SIZE 2.0"), 1},
        Mutation{"laterReadableSize", cube(8, "LUT_3D_SIZE 2.0") + "LUT_3D_SIZE 2", 0},
        Mutation{"lastSizeUnreadable", cube(8) + "LUT_3D_SIZE x", 1},
        Mutation{"keywordAloneKeepsSize", cube(8) + "LUT_3D_SIZE", 0},
        Mutation{"plusSign", cube(8, "LUT_3D_SIZE +2"), 0},
        Mutation{"sizeOne", cube(8, "LUT_3D_SIZE 1"), 1},
        Mutation{"negativeSize", cube(8, "LUT_3D_SIZE -2"), 1},
        Mutation{"sizeBeyondInt64", cube(8, "LUT_3D_SIZE 9223372036854775808"), 1},
        Mutation{"largestInt64Size", cube(8, "LUT_3D_SIZE 9223372036854775807"), 2},
        Mutation{"cubeOverflowsInt64", cube(8, "LUT_3D_SIZE 2097152"), 2},
        Mutation{"largestCubeInInt64", cube(8, "LUT_3D_SIZE 2097151"), 2},
        Mutation{"cubeWrapsToZero", cube(8, "LUT_3D_SIZE 4194304"), 2},
        Mutation{"overlongBreakIsNoBreak", cube(8, "LUT_3D_SIZE 2\xE0\x82\x85"), 1},
        Mutation{"sizeAfterData", seven + "1 1 1\nLUT_3D_SIZE 2\n", 0},
        Mutation{"numericTitle", cube(7) + "TITLE 1 1 1", 2},
        Mutation{"domainLines", cube(7) + "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 1", 2},
        Mutation{"inputRangeKeyword", cube(7) + "LUT_3D_INPUT_RANGE 0 1 1", 2},
        Mutation{"oneDSizeLineSkipped", cube(8) + "LUT_1D_SIZE 2", 0},
        Mutation{"twoNumbers", cube(7) + "0.5 0.25", 2},
        Mutation{"letterToken", cube(7) + "0.5 x 1", 2},
        Mutation{"commaSeparated", cube(7) + "1,1,1", 2},
        Mutation{"partlyNumericToken", cube(7) + "1e 1 1", 2},
        Mutation{"noBreakSpaceJoins", cube(7) + "1\u00A01 1", 2},
        Mutation{"verticalTabJoins", cube(7) + "1 \v1 1", 2},
        Mutation{"fourNumbers", cube(7) + "1 1 1 1", 0},
        Mutation{"trailingComment", cube(7) + "1 1 1 # last", 0},
        Mutation{"tabs", cube(7) + "1\t1\t\t1", 0},
        Mutation{"crlf", "LUT_3D_SIZE 2\r\n" + seven + "1 1 1\r\n", 0},
        Mutation{"loneCr", "LUT_3D_SIZE 2\r" + seven + "1 1 1", 0},
        Mutation{
            "unicodeBreaks",
            "LUT_3D_SIZE 2\u20280 0 0\u00851 0 0\u20290 1 0\u20281 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1",
            0},
        Mutation{"unicodeSpaceAtEnds", cube(7) + "\u3000 \t1 1 1\u00A0\u2003", 0},
        Mutation{"cFloatForms", cube(7) + "0x1p-1 +inf nan(1)", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CubeParser, KeepsValuesAsReadAndFirstThreeNumbers) {
    const auto lut = Exporter::parseCube(cube(5) + "-0.1 1.5 0.25 9\n0x1p-2 1e39 nan\n0.5 0.25 1");
    EXPECT_EQ(lut.entry(5)[0], -0.1f);
    EXPECT_EQ(lut.entry(5)[1], 1.5f);
    EXPECT_EQ(lut.entry(5)[2], 0.25f);
    EXPECT_EQ(lut.entry(6)[0], 0.25f);
    EXPECT_EQ(lut.entry(6)[1], INFINITY); // beyond float range: read as infinity
    EXPECT_TRUE(std::isnan(lut.entry(6)[2]));
    EXPECT_EQ(lut.entry(7)[3], 1.0f);
}

} // namespace
} // namespace vantrel
