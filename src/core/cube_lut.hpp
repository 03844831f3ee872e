#pragma once
// A 3D LUT as read from a .cube file: edge size N and N³ R′G′B′ entries, red
// fastest, then green, then blue, over an input range. A file with a 1D table
// (alone or as a shaper before its cube) or a domain other than 0 to 1 arrives
// as one cube that already holds them. A plain value: no codec library, no
// alignment (the grade repacks it once).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// The inputs one axis of a table covers, from its first entry to its last. `min`
// may exceed `max`: the table then runs backwards.
struct LutRange {
    double min = 0;
    double max = 1;
    bool operator==(const LutRange&) const = default;
};

// What a .cube file holds, as its keywords and rows say, before anything is
// baked: for reports only (the grade reads CubeLUT's cube).
struct CubeFileContents {
    std::optional<std::int64_t> curveSize; // rows of the 1D table (LUT_1D_SIZE), if it has rows
    LutRange curveRange;                   // its input range
    std::optional<std::int64_t> cubeSize;  // LUT_3D_SIZE, if the file has a cube
    LutRange cubeRange;                    // the cube's input range
    std::array<LutRange, 3> domain;        // DOMAIN_MIN/DOMAIN_MAX per channel
};

struct CubeLUT {
    std::int64_t size = 0;
    // 3·size³ floats: entry (r, g, b) starts at 3·(r + size·(g + size·b)).
    std::vector<float> rgb;
    // Plain-words notes on parts of the text that were read but not applied as
    // the file may have meant (ignored keywords, surplus entries). Empty for a
    // clean file.
    std::vector<std::string> warnings;
    // The input each axis of `rgb` spans, the same for red, green and blue: grid
    // point i stands for input min + i·(max − min)/(size − 1), and inputs beyond
    // the range are limited to it. min < max; 0 to 1 unless the file's tables
    // take wider (or narrower) inputs.
    LutRange input = {};
    // False when `rgb` holds the file's own rows as they are; true when it was
    // made from the file's tables (a 1D table, a domain other than 0 to 1).
    bool baked = false;
    CubeFileContents file = {};
};

} // namespace vantrel
