#pragma once
// A 3D LUT as read from a .cube file: edge size N and N³ R′G′B′ entries, red
// fastest, then green, then blue. A file with a 1D shaper arrives as one cube
// that already holds the shaper. A plain value: no codec library, no alignment
// (the grade repacks it once).

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

struct CubeLUT {
    std::int64_t size = 0;
    // 3·size³ floats: entry (r, g, b) starts at 3·(r + size·(g + size·b)).
    std::vector<float> rgb;
    // Plain-words notes on parts of the text that were read but not applied as
    // the file may have meant (ignored domains, surplus entries). Empty for a
    // clean file.
    std::vector<std::string> warnings;
};

} // namespace vantrel
