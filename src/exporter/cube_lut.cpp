#include "exporter/cube_lut.hpp"

#include <algorithm>
#include <array>
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

using shaper::InputRange;

// A cube entry's magnitude as the grade reads it.
constexpr double entryLimit = 65536;

struct RangeLine {
    bool given = false;
    std::optional<InputRange> value; // nothing when unreadable
};

std::string spell(InputRange range) {
    return fmt::format("{} to {}", range.min, range.max);
}

bool isUnit(InputRange range) {
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
            readDomain(line);
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
        if (!cubeSize_.given && shaperSize_.given)
            return finishCurve();
        if (!cubeSize_.value || *cubeSize_.value < 2)
            throw CubeError(CubeCode::noSize);
        const std::int64_t n = *cubeSize_.value;
        if (n >= firstOverflowingSize)
            throw CubeError(CubeCode::tooFewEntries);
        const auto entries = static_cast<std::uint64_t>(n * n * n);
        const std::uint64_t rows = floats_.size() / 3;
        if (shaperSize_.given && !(shaperSize_.value && *shaperSize_.value >= 2))
            throw CubeError(CubeCode::noSize,
                            "the LUT_1D_SIZE line does not give a size of 2 or more");
        const auto shaperRows =
            shaperSize_.given ? static_cast<std::uint64_t>(*shaperSize_.value) : 0;
        // Rows that make exactly the cube, and no more, are the cube: the 1D size
        // line is then a leftover, as some tools write.
        if (shaperRows > 0 && rows == entries && rows - entries < shaperRows) {
            warn(fmt::format("The LUT declares LUT_1D_SIZE {} but its rows make the {}-point cube "
                             "alone; it is read as that cube.",
                             shaperRows, n));
            return finishCube(n, 0, rows);
        }
        return finishCube(n, shaperRows, rows);
    }

private:
    // A cube of n points, after a shaper of `shaperRows` rows (0: none).
    CubeLUT finishCube(std::int64_t n, std::uint64_t shaperRows, std::uint64_t rows) {
        const auto entries = static_cast<std::uint64_t>(n * n * n);
        if (rows < shaperRows || rows - shaperRows < entries)
            throw CubeError(CubeCode::tooFewEntries,
                            shaperRows == 0 ? std::string()
                                            : fmt::format("a {}-entry shaper and a {}-point cube "
                                                          "need {} entries",
                                                          shaperRows, n, shaperRows + entries));
        warnSurplus(rows - shaperRows - entries,
                    shaperRows == 0
                        ? fmt::format("LUT_3D_SIZE {} needs", n)
                        : fmt::format("LUT_1D_SIZE {} and LUT_3D_SIZE {} need", shaperRows, n));
        file_.cubeSize = n;
        const std::span<const float> all(floats_);
        const auto domain = usableDomain();
        shaper::ShapedCube shaped{{}, {}, all.subspan(3 * shaperRows, 3 * entries), n, {}};
        if (shaperRows == 0) {
            if (cubeRange_.given && !(cubeRange_.value && isUnit(*cubeRange_.value)))
                warn("The LUT's LUT_3D_INPUT_RANGE is ignored without a LUT_1D_SIZE shaper: the "
                     "LUT is read as covering its DOMAIN_MIN to DOMAIN_MAX (0 to 1 unless given).");
            if (domain == shaper::Ranges{}) {
                floats_.resize(static_cast<std::size_t>(entries) * 3);
                return CubeLUT{n, std::move(floats_), std::move(warnings_), {}, false, file_};
            }
            shaped.cubeRange = domain;
            return baked(shaped, domain, domain);
        }
        file_.curveSize = static_cast<std::int64_t>(shaperRows);
        shaped.shaper = all.first(3 * shaperRows);
        shaped.shaperRange = firstTableRange(shaperRange_, "LUT_1D_INPUT_RANGE", domain);
        file_.curveRange = shaped.shaperRange[0];
        shaped.cubeRange.fill(usableRange(cubeRange_, "LUT_3D_INPUT_RANGE"));
        file_.cubeRange = shaped.cubeRange[0];
        return baked(shaped, shaped.shaperRange, domain);
    }

    // A file of one 1D table: a curve per channel, baked with a cube that passes
    // every value of the curve through unchanged.
    CubeLUT finishCurve() {
        if (!shaperSize_.value || *shaperSize_.value < 2)
            throw CubeError(CubeCode::noSize,
                            "the LUT_1D_SIZE line does not give a size of 2 or more");
        const auto n = static_cast<std::uint64_t>(*shaperSize_.value);
        const std::uint64_t rows = floats_.size() / 3;
        if (rows < n)
            throw CubeError(CubeCode::tooFewEntries,
                            fmt::format("a {}-entry 1D LUT needs {} entries", n, n));
        warnSurplus(rows - n, fmt::format("LUT_1D_SIZE {} needs", n));
        if (cubeRange_.given && !(cubeRange_.value && isUnit(*cubeRange_.value)))
            warn("The LUT's LUT_3D_INPUT_RANGE is ignored: the file has no 3D cube.");
        const std::span<const float> curve = std::span<const float>(floats_).first(3 * n);
        // The pass-through cube spans every value the curve takes (as the grade
        // would read them as cube entries).
        InputRange values{0, 1};
        for (const float v : curve)
            if (!std::isnan(v))
                values = {std::min(values.min, std::max(double(v), -entryLimit)),
                          std::max(values.max, std::min(double(v), entryLimit))};
        float passThrough[24];
        for (int i = 0; i < 24; ++i)
            passThrough[i] = float((i / 3 >> i % 3 & 1) != 0 ? values.max : values.min);
        const auto domain = usableDomain();
        shaper::ShapedCube shaped{
            curve, firstTableRange(shaperRange_, "LUT_1D_INPUT_RANGE", domain), passThrough, 2, {}};
        shaped.cubeRange.fill(values);
        file_.curveSize = static_cast<std::int64_t>(n);
        file_.curveRange = shaped.shaperRange[0];
        return baked(shaped, shaped.shaperRange, domain);
    }

    // The file's tables baked into one cube over the inputs `ranges` cover.
    CubeLUT baked(const shaper::ShapedCube& shaped, const shaper::Ranges& ranges,
                  const shaper::Ranges& domain) {
        const InputRange input = coveredInput(ranges);
        auto cube = shaper::bake(shaped, input);
        file_.domain = domain;
        return CubeLUT{cube.size, std::move(cube.rgb), std::move(warnings_), input, true, file_};
    }

    // The inputs a baked cube covers: every channel's range, within what decoded
    // R′G′B′ can reach (about −1.2 to 2.3, from limited-range extremes), so no grid
    // points are spent on inputs that never come.
    static InputRange coveredInput(const shaper::Ranges& ranges) {
        constexpr InputRange reachable{-2, 3};
        InputRange covered{std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};
        for (const auto& r : ranges)
            covered = {std::min({covered.min, r.min, r.max}),
                       std::max({covered.max, r.min, r.max})};
        covered = {std::max(covered.min, reachable.min), std::min(covered.max, reachable.max)};
        // A range beyond what can come holds one value of the table: any grid will do.
        return covered.min < covered.max ? covered : InputRange{};
    }

    // The input range of a file's first table: its own INPUT_RANGE line, else the
    // file's domain.
    shaper::Ranges firstTableRange(const RangeLine& line, const char* keyword,
                                   const shaper::Ranges& domain) {
        if (!line.given)
            return domain;
        if (domain != shaper::Ranges{})
            warn(fmt::format("The LUT's DOMAIN_MIN/DOMAIN_MAX is ignored: its {} gives the "
                             "input range.",
                             keyword));
        shaper::Ranges ranges;
        ranges.fill(usableRange(line, keyword));
        return ranges;
    }

    // DOMAIN_MIN and DOMAIN_MAX per channel, or 0 to 1 (and a warning) when a
    // channel's pair cannot be used.
    shaper::Ranges usableDomain() {
        shaper::Ranges ranges;
        for (int c = 0; c < 3; ++c) {
            ranges[c] = {domainMin_[c], domainMax_[c]};
            if (!std::isfinite(ranges[c].max - ranges[c].min) || ranges[c].max == ranges[c].min) {
                warn(fmt::format("The LUT's DOMAIN_MIN of {} {} {} and DOMAIN_MAX of {} {} {} "
                                 "cannot be used: 0 to 1 is used.",
                                 domainMin_[0], domainMin_[1], domainMin_[2], domainMax_[0],
                                 domainMax_[1], domainMax_[2]));
                return {};
            }
        }
        return ranges;
    }

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
            range.value = InputRange{*minValue, *maxValue};
    }

    // "DOMAIN_MIN r g b" or "DOMAIN_MAX r g b"; the last readable line of each decides.
    void readDomain(std::string_view line) {
        const bool isMin = beginsWithKeyword(line, "DOMAIN_MIN");
        if (!isMin && !beginsWithKeyword(line, "DOMAIN_MAX"))
            return;
        Tokens tokens(line);
        tokens.next();
        std::array<double, 3> values;
        for (double& value : values) {
            const auto token = tokens.next();
            const auto number = token ? text::readWholeDouble(*token) : std::nullopt;
            if (!number)
                return warn(fmt::format("The LUT's {} line cannot be read and is ignored.",
                                        isMin ? "DOMAIN_MIN" : "DOMAIN_MAX"));
            value = *number;
        }
        (isMin ? domainMin_ : domainMax_) = values;
    }

    InputRange usableRange(const RangeLine& range, const char* keyword) {
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

    std::array<double, 3> domainMin_{0, 0, 0};
    std::array<double, 3> domainMax_{1, 1, 1};
    CubeFileContents file_;
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
