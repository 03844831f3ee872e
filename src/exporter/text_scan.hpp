#pragma once
// Small text services shared by the LUT parser and the bitrate field: UTF-8 code
// points, Unicode white space, and numbers read by the C library's rules in the "C"
// locale whatever the process locale is. Pure functions, safe from any thread.

#include <cstddef>
#include <optional>
#include <string_view>

namespace vantrel::text {

struct CodePoint {
    char32_t value;
    std::size_t length; // bytes taken from the text, at least 1
};

// The code point starting at `pos` (< text.size()). A malformed or truncated
// sequence yields U+FFFD for its first byte alone, so every byte is visited once.
CodePoint decodeUtf8(std::string_view text, std::size_t pos);

// True when the whole text is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

// The Unicode White_Space set: tab to carriage return, space, U+0085, U+00A0,
// U+1680, U+2000–U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool isWhiteSpace(char32_t c);

// `text` without white space (as above) at either end.
std::string_view trimWhiteSpace(std::string_view text);

// The whole of `token` as a float or double by strtof/strtod: decimal or hexadecimal
// significand, optional sign and exponent, the words for infinity and NaN. Nothing
// when the token is empty, begins with white space or is not consumed entirely.
// Values beyond the type's range come back as strtof/strtod give them (±infinity,
// or the underflowed value).
std::optional<float> readWholeFloat(std::string_view token);
std::optional<double> readWholeDouble(std::string_view token);

} // namespace vantrel::text
