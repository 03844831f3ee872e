// Random and mutated input thrown at both parsers: they either succeed with a
// consistent result or fail with an Error; nothing else may escape.

#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "exporter/cube_lut.hpp"
#include "exporter/job.hpp"

namespace vantrel {
namespace {

// Pieces that steer mutations towards the parsers' interesting paths; repeated nines
// grow numbers beyond 64 bits.
const std::vector<std::string> fragments = {
    "\r\n",  "\r",          "\n",       "\xC2\x85", "\xE2\x80\xA8", "\xC2\xA0", "\t",    "#",
    "TITLE", "LUT_3D_SIZE", "\xC4\xB1", "\xC5\xBF", "99999999",     "2097152",  "-1",    "nan",
    "inf",   "0x1p3",       "1e39",     "\xFF",     "\xE2\x80",     "\"",       "{",     "}",
    "[",     "]",           ",",        "null",     "\\u0000",      "\\ud800",  "1e400", "0.5"};

// Random bytes for one input in three, else `valid` with one to four random edits.
void expectOnlyErrors(const std::string& valid,
                      const std::function<void(const std::string&)>& parse) {
    std::mt19937 rng(20240611);
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
            parse(text);
        } catch (const Error&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what() << " for input of " << text.size() << " bytes";
        }
    }
}

TEST(ParserFuzz, ParsersSurviveRandomAndMutatedText) {
    const std::string cube = "TITLE \"t\"\nLUT_3D_SIZE 2\nDOMAIN_MIN 0 0 0\n0 0 0\n1 0 0\n0 1 0\n"
                             "1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n";
    expectOnlyErrors(cube, [](const std::string& text) {
        const auto lut = parseCube(text);
        ASSERT_GE(lut.size, 2);
        ASSERT_EQ(lut.rgb.size(), static_cast<std::size_t>(3 * lut.size * lut.size * lut.size));
    });
    const auto decode = [](const std::string& bytes) { Job::decode(bytes); };
    expectOnlyErrors(R"({"version": 1, "output": {"fps": 25, "maxWidth": 1920, "targetBitrate": 2e7,
        "container": "mp4"}, "grade": {"lutCube": "LUT_3D_SIZE 2\n"}})",
                     decode);
    EXPECT_THROW(decode(std::string(100000, '[') + std::string(100000, ']')), Error);
}

} // namespace
} // namespace vantrel
