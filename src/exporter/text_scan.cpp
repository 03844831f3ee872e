#include "exporter/text_scan.hpp"

#include <clocale>
#include <cstdlib>
#include <string>

namespace vantrel::text {

namespace {

bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// A "C" locale made once for the number readers. Should the system fail to make one
// (it only can when out of memory) the global locale is used instead.
locale_t cLocale() {
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_ALL_MASK, "C", locale_t{});
        return made ? made : LC_GLOBAL_LOCALE;
    }();
    return locale;
}

// strtof/strtod skip these before a number; a token that starts with one is not a number.
bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename T, typename Read> std::optional<T> readWhole(std::string_view token, Read read) {
    if (token.empty() || isCSpace(token.front()))
        return std::nullopt;
    // A copy for the terminating NUL; an embedded NUL then ends the number early and
    // the token counts as unreadable.
    const std::string copy(token);
    char* end = nullptr;
    const T value = read(copy.c_str(), &end, cLocale());
    if (end != copy.c_str() + copy.size())
        return std::nullopt;
    return value;
}

} // namespace

CodePoint decodeUtf8(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char b0 = byte(0);
    if (b0 < 0x80)
        return {b0, 1};
    const std::size_t left = text.size() - pos;
    constexpr CodePoint invalid{0xFFFD, 1};
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (left < 2 || !isContinuation(byte(1)))
            return invalid;
        return {static_cast<char32_t>((b0 & 0x1F) << 6 | (byte(1) & 0x3F)), 2};
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (left < 3 || !isContinuation(byte(1)) || !isContinuation(byte(2)))
            return invalid;
        // Overlong forms and UTF-16 surrogates are not UTF-8.
        if ((b0 == 0xE0 && byte(1) < 0xA0) || (b0 == 0xED && byte(1) > 0x9F))
            return invalid;
        return {static_cast<char32_t>((b0 & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F)),
                3};
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (left < 4 || !isContinuation(byte(1)) || !isContinuation(byte(2)) ||
            !isContinuation(byte(3)))
            return invalid;
        if ((b0 == 0xF0 && byte(1) < 0x90) || (b0 == 0xF4 && byte(1) > 0x8F))
            return invalid;
        return {static_cast<char32_t>((b0 & 0x07) << 18 | (byte(1) & 0x3F) << 12 |
                                      (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F)),
                4};
    }
    return invalid;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const CodePoint c = decodeUtf8(text, pos);
        // A malformed byte decodes alone; a real U+FFFD takes three.
        if (c.value == 0xFFFD && c.length == 1)
            return false;
        pos += c.length;
    }
    return true;
}

bool isWhiteSpace(char32_t c) {
    if (c < 0x80)
        return c == ' ' || (c >= 0x09 && c <= 0x0D);
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trimWhiteSpace(std::string_view text) {
    std::size_t first = text.size();
    std::size_t end = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const CodePoint cp = decodeUtf8(text, pos);
        if (!isWhiteSpace(cp.value)) {
            if (first == text.size())
                first = pos;
            end = pos + cp.length;
        }
        pos += cp.length;
    }
    if (first == text.size())
        return text.substr(0, 0);
    return text.substr(first, end - first);
}

std::optional<float> readWholeFloat(std::string_view token) {
    return readWhole<float>(token, strtof_l);
}

std::optional<double> readWholeDouble(std::string_view token) {
    return readWhole<double>(token, strtod_l);
}

} // namespace vantrel::text
