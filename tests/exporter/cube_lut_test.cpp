// The .cube grammar: one valid sample, and each failure or leniency as one change to it.

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "exporter/cube_lut.hpp"

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

TEST(CubeParser, ValidSampleGivesRgbInTextOrder) {
    const auto lut = parseCube("# comment\nTITLE \"x\"\n" + cube(9)); // 9th dropped
    EXPECT_EQ(lut.size, 2);
    std::vector<float> expected;
    for (int i = 0; i < 8; ++i)
        expected.insert(expected.end(), {float(i & 1), float(i >> 1 & 1), float(i >> 2 & 1)});
    EXPECT_EQ(lut.rgb, expected);
    // Values are kept as read, beyond [0, 1] and float range too; only three numbers count.
    const auto odd = parseCube(cube(6) + "-0.1 1.5 0.25 9\n0x1p-2 1e39 nan");
    EXPECT_EQ(std::vector<float>(odd.rgb.begin() + 18, odd.rgb.end() - 1),
              (std::vector<float>{-0.1f, 1.5f, 0.25f, 0.25f, INFINITY}));
    EXPECT_TRUE(std::isnan(odd.rgb.back()));
}

TEST(CubeParser, EachChangeGivesItsOutcome) {
    const std::string seven = cube(7).substr(cube(0).size()); // seven data lines, no size
    // byCode[c]: texts failing with code c (0: they parse). Size 2097152 overflows and
    // wraps N³; E0 82 85 is an overlong U+0085, not a line break.
    const std::vector<std::string> byCode[] = {
        {cube(8, "lut_3d_size 2"), cube(8, "lut_3d_\u017Fize 2"), cube(8, "LUT_3D_S\u0131ZE 2"),
         cube(8, "LUT_3D_SIZE 2.0") + "LUT_3D_SIZE 2", cube(8) + "LUT_3D_SIZE",
         cube(8, "LUT_3D_SIZE +2"), seven + "1 1 1\nLUT_3D_SIZE 2\n", cube(8) + "LUT_1D_SIZE",
         "\xEF\xBB\xBF" + cube(8), cube(10) + "LUT_1D_SIZE 2", cube(7) + "1 1 1 1",
         "LUT_3D_SIZE 2\r\n" + seven + "1 1 1\r\n", "LUT_3D_SIZE 2\r" + seven + "1 1 1",
         "LUT_3D_SIZE 2\u20280 0 0\u00851 0 0\u20290 1 0\u20281 1 0\n" + seven.substr(24) + "1 1 1",
         cube(7) + "\u3000 \t1\t1 1\u00A0\u2003", cube(7) + "0x1p-1 +inf nan(1)",
         "LUT_1D_SIZE 2\n0 0 0\n1 1 1", cube(8) + "LUT_1D_SIZE 9223372036854775807"},
        {"", "# a\n\n  # b\n", cube(8, "LUT_3D_SIZE 2.0"), cube(8) + "LUT_3D_SIZE x",
         cube(8, "LUT_3D_SIZE 1"), cube(8, "LUT_3D_SIZE 2\xE0\x82\x85"),
         "\xEF\xBB\xBF\xEF\xBB\xBF" + cube(8), cube(8) + "LUT_1D_SIZE 1", cube(8) + "LUT_1D_SIZE x",
         "LUT_1D_SIZE 1\n0 0 0\n1 1 1", "LUT_1D_SIZE 2\nLUT_3D_SIZE x\n0 0 0\n1 1 1"},
        {cube(7), cube(8, "LUT_3D_SIZE 9223372036854775807"), cube(8, "LUT_3D_SIZE 2097152"),
         cube(7) + "TITLE 1 1 1", cube(7) + "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 1",
         cube(7) + "0.5 0.25", cube(7) + "0.5 x 1", cube(7) + "1\u00A01 1",
         cube(9) + "LUT_1D_SIZE 2", cube(9) + "LUT_1D_SIZE 9223372036854775807",
         "LUT_1D_SIZE 3\n0 0 0\n1 1 1"}};
    for (int code = 0; code < 3; ++code)
        for (const auto& text : byCode[code]) {
            try {
                parseCube(text);
                EXPECT_EQ(code, 0) << text;
            } catch (const Error& e) {
                EXPECT_TRUE(e.is(CubeCode(code))) << e.what() << " for " << text;
            }
        }
}

// What a file says but the grammar does not apply is read as before and told. An
// identity shaper before the identity cube bakes into that same cube.
TEST(CubeParser, WarnsAboutWhatItDoesNotApply) {
    const auto shaped = [](const std::string& line) {
        return "LUT_1D_SIZE 2\n" + line + "\n0 0 0\n1 1 1\n" + cube(8);
    };
    const struct {
        std::string text;
        std::vector<std::string> warnings; // a part of each, in order
    } cases[] = {
        {cube(8) + "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1.0 1 1e0\nLUT_3D_INPUT_RANGE 0 1", {}},
        {cube(9), {"1 more entries than LUT_3D_SIZE 2 needs"}},
        {cube(8) + "domain_min -0.1 0 0\nDOMAIN_MIN nan 0 0",
         {"DOMAIN_MIN of nan 0 0 and DOMAIN_MAX of 1 1 1 cannot be used"}},
        {"LUT_1D_SIZE 4\n" + cube(8), {"declares LUT_1D_SIZE 4 but its rows make the 2-point"}},
        {shaped("DOMAIN_MAX 2 2 2\nLUT_1D_INPUT_RANGE 0 1"), {"its LUT_1D_INPUT_RANGE gives"}},
        {cube(8) + "DOMAIN_MIN 0 0", {"DOMAIN_MIN line cannot be read"}},
        {cube(8) + "LUT_3D_INPUT_RANGE 0 4", {"LUT_3D_INPUT_RANGE is ignored"}},
        {"\xEF\xBB\xBF" + cube(8), {}},
        {shaped("") + "0 0 0", {"1 more entries than LUT_1D_SIZE 2 and LUT_3D_SIZE 2"}},
        {shaped("LUT_1D_INPUT_RANGE 1 1"), {"LUT_1D_INPUT_RANGE of 1 to 1 cannot be used"}},
        {shaped("LUT_3D_INPUT_RANGE 0 nan"), {"LUT_3D_INPUT_RANGE of 0 to nan cannot"}},
        {shaped("LUT_1D_INPUT_RANGE -1e308 1e308"), {"-1e+308 to 1e+308 cannot be used"}}};
    for (const auto& c : cases) {
        const auto lut = parseCube(c.text);
        EXPECT_EQ(lut.rgb, parseCube(cube(8)).rgb) << c.text;
        ASSERT_EQ(lut.warnings.size(), c.warnings.size()) << c.text;
        for (std::size_t i = 0; i < c.warnings.size(); ++i)
            EXPECT_NE(lut.warnings[i].find(c.warnings[i]), std::string::npos) << lut.warnings[i];
    }
    // A reversed range is a valid one: it turns the shaper around.
    const auto reversed = parseCube(shaped("lut_1d_input_range 1 0"));
    EXPECT_EQ(reversed.warnings, std::vector<std::string>{});
    EXPECT_EQ(std::vector<float>(reversed.rgb.begin(), reversed.rgb.begin() + 6),
              (std::vector<float>{1, 1, 1, 0, 1, 1}));
}

} // namespace
} // namespace vantrel
