#include "exporter/cube_lut.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <span>

#include <fmt/format.h>

#include "exporter/cube_shaper.hpp"
#include "exporter/text_scan.hpp"

namespace vantrel {

namespace {

// 33³ entries of three floats: the usual cube size needs no growth.
constexpr std::size_t reservedFloats = 107811;
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

// A size line's value: the last line with a second token decides, even when that
// token is not an integer.
struct SizeLine {
    bool given = false;
    std::optional<std::int64_t> value;
};

struct RangeLine {
    bool given = false;
    std::optional<shaper::InputRange> value; // nothing when unreadable
};

std::string spell(shaper::InputRange range) {
    return fmt::format("{} to {}", range.min, range.max);
}

bool isUnit(shaper::InputRange range) {
    return range.min == 0 && range.max == 1;
}

// Far beyond anything a real file needs to say, small enough to read at a glance.
constexpr std::size_t maxWarnings = 16;

class CubeReader {
public:
    CubeReader() { floats_.reserve(reservedFloats); }

    void readLine(std::string_view raw) {
        const auto line = text::trimWhiteSpace(raw);
        if (line.empty() || line.front() == '#')
            return;
        if (beginsWithKeyword(line, "TITLE"))
            return;
        if (beginsWithKeyword(line, "DOMAIN_")) {
            checkDomain(line);
            return;
        }
        if (beginsWithKeyword(line, "LUT_3D_SIZE"))
            return readSizeLine(line, cubeSize_);
        // Neither line can be a data line: the first token is not a number.
        if (beginsWithKeyword(line, "LUT_1D_SIZE"))
            return readSizeLine(line, shaperSize_);
        if (beginsWithKeyword(line, "LUT_1D_INPUT_RANGE"))
            return readRangeLine(line, shaperRange_);
        if (beginsWithKeyword(line, "LUT_3D_INPUT_RANGE"))
            return readRangeLine(line, cubeRange_);
        Tokens tokens(line);
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
        floats_.insert(floats_.end(), {rgb[0], rgb[1], rgb[2]});
    }

    CubeLUT finish() {
        if (!cubeSize_.value || *cubeSize_.value < 2)
            throw CubeError(CubeCode::noSize, shaperSize_.given
                                                  ? "a 1D LUT without a 3D cube cannot be applied"
                                                  : std::string());
        const std::int64_t n = *cubeSize_.value;
        if (n >= firstOverflowingSize)
            throw CubeError(CubeCode::tooFewEntries);
        const auto entries = static_cast<std::uint64_t>(n * n * n);
        const std::uint64_t rows = floats_.size() / 3;
        if (!shaperSize_.given) {
            if (rows < entries)
                throw CubeError(CubeCode::tooFewEntries);
            if (cubeRange_.given && !(cubeRange_.value && isUnit(*cubeRange_.value)))
                warn("The LUT's LUT_3D_INPUT_RANGE is ignored without a LUT_1D_SIZE shaper: the "
                     "LUT is read as covering 0 to 1.");
            warnSurplus(rows - entries, fmt::format("LUT_3D_SIZE {} needs", n));
            floats_.resize(static_cast<std::size_t>(entries) * 3);
            return CubeLUT{n, std::move(floats_), std::move(warnings_)};
        }

        if (!shaperSize_.value || *shaperSize_.value < 2)
            throw CubeError(CubeCode::noSize,
                            "the LUT_1D_SIZE line does not give a size of 2 or more");
        const auto shaperRows = static_cast<std::uint64_t>(*shaperSize_.value);
        if (rows < shaperRows || rows - shaperRows < entries)
            throw CubeError(CubeCode::tooFewEntries,
                            fmt::format("a {}-entry shaper and a {}-point cube need {} "
                                        "entries",
                                        shaperRows, n, shaperRows + entries));
        warnSurplus(rows - shaperRows - entries,
                    fmt::format("LUT_1D_SIZE {} and LUT_3D_SIZE {} need", shaperRows, n));
        const std::span<const float> all(floats_);
        const shaper::ShapedCube shaped{all.first(3 * shaperRows),
                                        usableRange(shaperRange_, "LUT_1D_INPUT_RANGE"),
                                        all.subspan(3 * shaperRows, 3 * entries), n,
                                        usableRange(cubeRange_, "LUT_3D_INPUT_RANGE")};
        auto baked = shaper::bake(shaped);
        return CubeLUT{baked.size, std::move(baked.rgb), std::move(warnings_)};
    }

private:
    static void readSizeLine(std::string_view line, SizeLine& size) {
        Tokens tokens(line);
        tokens.next();
        if (const auto second = tokens.next()) {
            size.given = true;
            size.value = readSize(*second);
        }
    }

    // "<keyword> <min> <max>"; the last such line decides.
    static void readRangeLine(std::string_view line, RangeLine& range) {
        Tokens tokens(line);
        tokens.next();
        const auto min = tokens.next();
        const auto max = tokens.next();
        const auto minValue = min ? text::readWholeDouble(*min) : std::nullopt;
        const auto maxValue = max ? text::readWholeDouble(*max) : std::nullopt;
        range.given = true;
        range.value = std::nullopt;
        if (minValue && maxValue)
            range.value = shaper::InputRange{*minValue, *maxValue};
    }

    // DOMAIN_MIN/DOMAIN_MAX never change how the cube is read (it covers 0 to 1);
    // a file that says otherwise is graded differently from what it means.
    void checkDomain(std::string_view line) {
        const bool isMin = beginsWithKeyword(line, "DOMAIN_MIN");
        if (!isMin && !beginsWithKeyword(line, "DOMAIN_MAX"))
            return;
        const double expected = isMin ? 0 : 1;
        const char* keyword = isMin ? "DOMAIN_MIN" : "DOMAIN_MAX";
        Tokens tokens(line);
        tokens.next();
        double values[3];
        for (double& value : values) {
            const auto token = tokens.next();
            const auto number = token ? text::readWholeDouble(*token) : std::nullopt;
            if (!number)
                return warn(fmt::format("The LUT's {} line cannot be read and is ignored: the LUT "
                                        "is read as covering 0 to 1.",
                                        keyword));
            value = *number;
        }
        if (values[0] != expected || values[1] != expected || values[2] != expected)
            warn(fmt::format("The LUT's {} of {} {} {} is ignored: the LUT is read as covering 0 "
                             "to 1.",
                             keyword, values[0], values[1], values[2]));
    }

    shaper::InputRange usableRange(const RangeLine& range, const char* keyword) {
        if (!range.given)
            return {};
        if (!range.value) {
            warn(fmt::format("The LUT's {} line cannot be read and is ignored: 0 to 1 is used.",
                             keyword));
            return {};
        }
        const auto [min, max] = *range.value;
        if (!std::isfinite(max - min) || max == min) {
            warn(fmt::format("The LUT's {} of {} cannot be used: 0 to 1 is used.", keyword,
                             spell(*range.value)));
            return {};
        }
        return *range.value;
    }

    void warnSurplus(std::uint64_t surplus, const std::string& need) {
        if (surplus > 0)
            warn(fmt::format("The LUT has {} more entries than {}; they are ignored.", surplus,
                             need));
    }

    void warn(std::string warning) {
        if (std::find(warnings_.begin(), warnings_.end(), warning) != warnings_.end())
            return;
        if (warnings_.size() < maxWarnings)
            warnings_.push_back(std::move(warning));
        else if (warnings_.size() == maxWarnings)
            warnings_.push_back("Further warnings about this LUT are left out.");
    }

    SizeLine cubeSize_;
    SizeLine shaperSize_;
    RangeLine shaperRange_;
    RangeLine cubeRange_;
    std::vector<float> floats_;
    std::vector<std::string> warnings_;
};

} // namespace

CubeLUT parseCube(std::string_view text) {
    // A byte-order mark would otherwise make the first line (often the size) unreadable.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
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
