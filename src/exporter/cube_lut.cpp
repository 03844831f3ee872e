#include "exporter/cube_lut.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "exporter/exporter.hpp"
#include "exporter/text_scan.hpp"

namespace vantrel {

namespace {

std::string cubeReason(int code) {
    switch (code) {
    case 1:
        return "The LUT has no usable LUT_3D_SIZE line: a size of 2 or more is needed.";
    case 2:
        return "The LUT has fewer entries than its size needs.";
    }
    return "The LUT could not be read.";
}

// 33³ entries of four floats: the usual cube size needs no growth.
constexpr std::size_t reservedFloats = 143748;
// From this edge size on N³ no longer fits a signed 64-bit integer.
constexpr std::int64_t firstOverflowingSize = 2097152;

bool isLineBreak(char32_t c) {
    return c == '\n' || c == '\r' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The ASCII character that full Unicode upper-casing makes of `c`, or 0 when that is
// not a single ASCII character. Beyond a–z only dotless i and long s upper-case into
// ASCII letters. Characters that expand into several (ß → SS, the fi/ff/st ligatures,
// ẗ → T + diaeresis, ...) would need a letter pair or a last letter that no keyword
// has, so treating them as 0 leaves every keyword test as full upper-casing has it.
char upperAscii(char32_t c) {
    if (c >= 'a' && c <= 'z')
        return static_cast<char>(c - 'a' + 'A');
    if (c < 0x80)
        return static_cast<char>(c);
    if (c == 0x0131)
        return 'I';
    if (c == 0x017F)
        return 'S';
    return 0;
}

// Case-insensitive prefix test, as on an upper-cased copy of the line.
bool beginsWithKeyword(std::string_view line, std::string_view keyword) {
    std::size_t pos = 0;
    for (char wanted : keyword) {
        if (pos >= line.size())
            return false;
        const text::CodePoint cp = text::decodeUtf8(line, pos);
        if (upperAscii(cp.value) != wanted)
            return false;
        pos += cp.length;
    }
    return true;
}

// Tokens separated by runs of spaces and tabs; other white space belongs to a token.
class Tokens {
public:
    explicit Tokens(std::string_view line) : rest_(line) {}
    std::optional<std::string_view> next() {
        const auto start = rest_.find_first_not_of(" \t");
        if (start == std::string_view::npos)
            return std::nullopt;
        rest_.remove_prefix(start);
        const auto end = std::min(rest_.find_first_of(" \t"), rest_.size());
        const auto token = rest_.substr(0, end);
        rest_.remove_prefix(end);
        return token;
    }

private:
    std::string_view rest_;
};

// An optional sign and ASCII digits, within the signed 64-bit range.
std::optional<std::int64_t> readSize(std::string_view token) {
    bool negative = false;
    if (!token.empty() && (token.front() == '+' || token.front() == '-')) {
        negative = token.front() == '-';
        token.remove_prefix(1);
    }
    if (token.empty())
        return std::nullopt;
    // Accumulated as a negative number, whose range is one larger.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (char c : token) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest)
            return std::nullopt;
        value = -value;
    }
    return value;
}

class CubeReader {
public:
    CubeReader() { floats_.reserve(reservedFloats); }

    void readLine(std::string_view raw) {
        const auto line = text::trimWhiteSpace(raw);
        if (line.empty() || line.front() == '#')
            return;
        if (beginsWithKeyword(line, "TITLE") || beginsWithKeyword(line, "DOMAIN_"))
            return;
        Tokens tokens(line);
        if (beginsWithKeyword(line, "LUT_3D_SIZE")) {
            tokens.next();
            // The last size line decides, even when its value is unreadable.
            if (const auto second = tokens.next())
                size_ = readSize(*second);
            return;
        }
        float rgb[3];
        for (float& value : rgb) {
            const auto token = tokens.next();
            if (!token)
                return;
            const auto number = text::readWholeFloat(*token);
            if (!number)
                return;
            value = *number;
        }
        floats_.insert(floats_.end(), {rgb[0], rgb[1], rgb[2], 1.0f});
    }

    CubeLUT finish() {
        if (!size_ || *size_ < 2)
            throw CubeError(1);
        const std::int64_t n = *size_;
        if (n >= firstOverflowingSize)
            throw CubeError(2);
        const auto entries = static_cast<std::uint64_t>(n * n * n);
        if (floats_.size() / 4 < entries)
            throw CubeError(2);
        const std::size_t bytes = static_cast<std::size_t>(entries) * 4 * sizeof(float);
        std::vector<std::byte> data(bytes);
        std::memcpy(data.data(), floats_.data(), bytes);
        return CubeLUT(n, std::move(data));
    }

private:
    std::optional<std::int64_t> size_;
    std::vector<float> floats_;
};

} // namespace

CubeError::CubeError(int code) : Error("cube", code, cubeReason(code)) {}

CubeLUT Exporter::parseCube(std::string_view text) {
    CubeReader reader;
    std::size_t lineStart = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const text::CodePoint cp = text::decodeUtf8(text, pos);
        if (!isLineBreak(cp.value)) {
            pos += cp.length;
            continue;
        }
        reader.readLine(text.substr(lineStart, pos - lineStart));
        pos += cp.length;
        if (cp.value == '\r' && pos < text.size() && text[pos] == '\n')
            ++pos;
        lineStart = pos;
    }
    reader.readLine(text.substr(lineStart));
    return reader.finish();
}

} // namespace vantrel
