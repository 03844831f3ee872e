// Random and mutated text thrown at the .cube parser: it either succeeds with a
// consistent cube or fails with an Error; nothing else may escape. The job decoder
// and the parser have libFuzzer targets of their own under fuzz/.

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "exporter/cube_lut.hpp"

namespace vantrel {
namespace {

// Pieces that steer mutations towards the parser's interesting paths; repeated
// nines grow numbers beyond 64 bits.
const std::vector<std::string> fragments = {
    "\r\n",     "\r",       "\n",      "\xC2\x85",    "\xE2\x80\xA8", "\xC2\xA0",
    "\t",       "#",        "TITLE",   "LUT_3D_SIZE", "LUT_1D_SIZE",  "\xC4\xB1",
    "\xC5\xBF", "99999999", "2097152", "-1",          "nan",          "inf",
    "0x1p3",    "1e39",     "\xFF",    "\xE2\x80",    "1e400",        "0.5"};

TEST(ParserFuzz, CubeParserSurvivesRandomAndMutatedText) {
    const std::string valid = "TITLE \"t\"\nLUT_3D_SIZE 2\nDOMAIN_MIN 0 0 0\n0 0 0\n1 0 0\n"
                              "0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n";
    std::mt19937 rng(20240611);
    // Random bytes for one input in three, else the valid text with one to four edits.
    for (int i = 0; i < 10000; ++i) {
        std::string text = valid;
        if (i % 3 == 0) {
            text.resize(rng() % 200);
            for (char& c : text)
                c = static_cast<char>(rng());
        }
        for (int edits = i % 3 == 0 ? 0 : 1 + rng() % 4; edits > 0; --edits) {
            const std::size_t at = rng() % (text.size() + 1);
            if (const auto op = rng() % 3; op == 0)
                text.insert(at, fragments[rng() % fragments.size()]);
            else if (op == 1 || at == text.size())
                text.erase(at, rng() % 8);
            else
                text[at] = static_cast<char>(rng());
        }
        try {
            const auto lut = parseCube(text);
            ASSERT_GE(lut.size, 2);
            ASSERT_EQ(lut.rgb.size(), static_cast<std::size_t>(3 * lut.size * lut.size * lut.size));
        } catch (const Error&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what() << " for input of " << text.size() << " bytes";
        }
    }
}

} // namespace
} // namespace vantrel
