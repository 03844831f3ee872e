// Random and mutated input thrown at both parsers: they either succeed with a
// consistent result or fail with an Error; nothing else may escape.

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "exporter/exporter.hpp"

namespace vantrel {
namespace {

// Pieces that steer mutations towards the parsers' interesting paths.
const std::vector<std::string> fragments = {
    "\n",          "\r",          "\r\n",      "\xC2\x85",    "\xE2\x80\xA8",
    "\xC2\xA0",    "\t",          " ",         "#",           "TITLE",
    "LUT_3D_SIZE", "DOMAIN_MIN",  "\xC4\xB1",  "\xC5\xBF",    "9223372036854775808",
    "2097152",     "-1",          "nan",       "inf",         "0x1p3",
    "1e39",        "\xFF",        "\xE2\x80",  "\"",          "{",
    "}",           "[",           "]",         ",",           ":",
    "null",        "\\u0000",     "\\ud800",   "1e400",       "-9223372036854775809",
    "0.5",         "\"version\"", "\"grade\"", "\"lutCube\"", "\"output\"",
    "\"fps\""};

std::string mutate(std::string text, std::mt19937& rng) {
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < edits; ++i) {
        const std::size_t at = text.empty() ? 0 : rng() % (text.size() + 1);
        switch (rng() % 4) {
        case 0:
            text.insert(at, fragments[rng() % fragments.size()]);
            break;
        case 1:
            text.erase(at, rng() % 8);
            break;
        case 2:
            if (at < text.size())
                text[at] = static_cast<char>(rng());
            break;
        default:
            text.insert(at, text.substr(rng() % (text.size() + 1), rng() % 32));
        }
    }
    return text;
}

std::string randomBytes(std::mt19937& rng) {
    std::string bytes(rng() % 200, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng());
    return bytes;
}

template <typename Parse> void expectOnlyErrors(const std::string& input, Parse parse) {
    try {
        parse(input);
    } catch (const Error&) {
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected exception " << e.what() << " for input of " << input.size()
                      << " bytes";
    }
}

void parseCubeChecked(const std::string& text) {
    const auto lut = Exporter::parseCube(text);
    ASSERT_GE(lut.size(), 2);
    ASSERT_EQ(lut.data().size(),
              static_cast<std::size_t>(16 * lut.size() * lut.size() * lut.size()));
    for (std::int64_t i = 0; i < lut.size() * lut.size() * lut.size(); ++i)
        ASSERT_EQ(lut.entry(i)[3], 1.0f);
}

std::string validCube() {
    std::string text = "TITLE \"t\"\nLUT_3D_SIZE 2\nDOMAIN_MIN 0 0 0\n";
    for (int i = 0; i < 8; ++i)
        text += "0.5 0.25 1\n";
    return text;
}

TEST(ParserFuzz, CubeParserSurvivesRandomAndMutatedText) {
    std::mt19937 rng(20240611);
    const std::string valid = validCube();
    for (int i = 0; i < 10000; ++i) {
        expectOnlyErrors(i % 3 == 0 ? randomBytes(rng) : mutate(valid, rng), parseCubeChecked);
        if (HasFatalFailure())
            return;
    }
}

TEST(ParserFuzz, JobDecoderSurvivesRandomAndMutatedText) {
    std::mt19937 rng(7);
    const std::string valid = R"({"version": 1, "output": {"fps": 25, "maxWidth": 1920,
        "targetBitrate": 20000000, "container": "mp4"}, "grade": {"lutCube": "LUT_3D_SIZE 2\n"}})";
    for (int i = 0; i < 10000; ++i)
        expectOnlyErrors(i % 3 == 0 ? randomBytes(rng) : mutate(valid, rng),
                         [](const std::string& bytes) { Job::decode(bytes); });
    expectOnlyErrors(std::string(100000, '[') + std::string(100000, ']'),
                     [](const std::string& bytes) { Job::decode(bytes); });
}

} // namespace
} // namespace vantrel
