#include "exporter/job.hpp"

#include <limits>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace vantrel {

namespace {

using Json = nlohmann::json;
using Kind = JobDecodingError::Kind;

std::string kindName(Kind kind) {
    switch (kind) {
    case Kind::dataCorrupted:
        return "dataCorrupted";
    case Kind::typeMismatch:
        return "typeMismatch";
    case Kind::keyNotFound:
        return "keyNotFound";
    case Kind::valueNotFound:
        return "valueNotFound";
    }
    return "unknown";
}

std::string makeSummary(Kind kind, const std::string& path, const std::string& key,
                        const std::string& detail) {
    std::string summary = kindName(kind);
    if (!key.empty())
        summary += fmt::format(": \"{}\"", key);
    summary += path.empty() ? " at the top level" : " at " + path;
    if (!detail.empty())
        summary += fmt::format(" ({})", detail);
    return summary;
}

// The integer a JSON number literal stands for when it is exactly an integer within
// the signed 64-bit range ("20000000.0", "2e7", "-0.0"); nothing for "1.5", "1e-400",
// "9223372036854775808" or "-9223372036854775809". Deciding on the literal rather
// than on the parsed double keeps values that a double would round into range or
// onto an integer from being taken as integers.
std::optional<std::int64_t> exactInteger(std::string_view literal) {
    std::size_t pos = 0;
    const bool negative = !literal.empty() && literal[0] == '-';
    if (negative)
        ++pos;
    std::string digits;
    std::int64_t exponent = 0;
    for (; pos < literal.size() && literal[pos] >= '0' && literal[pos] <= '9'; ++pos)
        digits += literal[pos];
    if (pos < literal.size() && literal[pos] == '.') {
        for (++pos; pos < literal.size() && literal[pos] >= '0' && literal[pos] <= '9'; ++pos) {
            digits += literal[pos];
            --exponent;
        }
    }
    if (pos < literal.size() && (literal[pos] == 'e' || literal[pos] == 'E')) {
        ++pos;
        bool negativeExponent = false;
        if (pos < literal.size() && (literal[pos] == '+' || literal[pos] == '-'))
            negativeExponent = literal[pos++] == '-';
        // Saturated far beyond any exponent that could still give an int64.
        std::int64_t written = 0;
        for (; pos < literal.size() && literal[pos] >= '0' && literal[pos] <= '9'; ++pos)
            written = std::min<std::int64_t>(written * 10 + (literal[pos] - '0'), 1'000'000'000);
        exponent += negativeExponent ? -written : written;
    }
    const auto firstSignificant = digits.find_first_not_of('0');
    if (firstSignificant == std::string::npos)
        return 0;
    digits.erase(0, firstSignificant);
    while (digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    if (exponent < 0 || static_cast<std::int64_t>(digits.size()) + exponent > 19)
        return std::nullopt;
    digits.append(static_cast<std::size_t>(exponent), '0');
    const auto magnitude = std::stoull(digits); // at most 19 digits: fits
    constexpr auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (magnitude > limit + (negative ? 1 : 0))
        return std::nullopt;
    if (negative)
        return magnitude == limit + 1 ? std::numeric_limits<std::int64_t>::min()
                                      : -static_cast<std::int64_t>(magnitude);
    return static_cast<std::int64_t>(magnitude);
}

// Builds the document as the parser reads it, storing a number literal that is
// exactly a 64-bit integer as an integer whatever its spelling. Only what the
// decoder can look at is kept: members of objects down to the job's sections.
// Array elements and anything deeper are checked for syntax and dropped, with
// their containers kept empty so that a wrong type still shows as one. So a job
// file never takes much more memory than its own bytes.
class DocumentBuilder final : public nlohmann::json_sax<Json> {
public:
    explicit DocumentBuilder(Json& root) : root_(root) {}

    bool null() override { return add(nullptr); }
    bool boolean(bool value) override { return add(value); }
    bool number_integer(number_integer_t value) override { return add(value); }
    bool number_unsigned(number_unsigned_t value) override { return add(value); }
    bool number_float(number_float_t value, const string_t& literal) override {
        if (const auto integer = exactInteger(literal))
            return add(*integer);
        return add(value);
    }
    bool string(string_t& value) override { return add(std::move(value)); }
    // Binary values exist only in binary encodings, never in JSON text.
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool key(string_t& key) override {
        key_ = std::move(key);
        return true;
    }
    bool end_object() override {
        open_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_array() override {
        open_.pop_back();
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::json::exception& error) override {
        errorPosition_ = position;
        errorText_ = error.what();
        return false;
    }

    std::size_t errorPosition() const { return errorPosition_; }
    const std::string& errorText() const { return errorText_; }
    bool tooDeep() const { return tooDeep_; }

private:
    // Depth of a value: 0 for the document, 1 for its members, 2 for theirs.
    static constexpr std::size_t deepestKept = 2;

    // Where the value went, or null when it is not kept.
    Json* place(Json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Json* parent = open_.back();
        if (!parent || !parent->is_object() || open_.size() > deepestKept)
            return nullptr;
        // A repeated key keeps its last value.
        Json& slot = (*parent)[key_];
        slot = std::move(value);
        return &slot;
    }
    bool add(Json value) {
        place(std::move(value));
        return true;
    }
    bool open(Json container) {
        if (open_.size() >= maxJobNesting) {
            tooDeep_ = true;
            return false;
        }
        open_.push_back(place(std::move(container)));
        return true;
    }

    Json& root_;
    std::vector<Json*> open_; // null for a container that is not kept
    bool tooDeep_ = false;
    std::string key_;
    std::size_t errorPosition_ = 0;
    std::string errorText_;
};

// The parser's message without its "[json.exception...] " tag, reduced to printable
// ASCII since it may quote the offending bytes.
std::string parserMessage(const std::string& what) {
    std::string_view text = what;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find("] ");
        if (close != std::string_view::npos)
            text.remove_prefix(close + 2);
    }
    std::string clean;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F)
            clean += static_cast<char>(c);
        else
            clean += fmt::format("\\x{:02X}", c);
    }
    return clean;
}

Json parseDocument(std::string_view bytes) {
    if (bytes.size() > maxJobFileBytes)
        throw JobDecodingError(Kind::dataCorrupted, "", "",
                               fmt::format("the file is larger than {} MiB, the most a job file "
                                           "may hold",
                                           maxJobFileBytes >> 20));
    Json document;
    DocumentBuilder builder(document);
    if (!Json::sax_parse(bytes.begin(), bytes.end(), &builder)) {
        if (builder.tooDeep())
            throw JobDecodingError(Kind::dataCorrupted, "", "",
                                   fmt::format("JSON nested deeper than {} levels", maxJobNesting));
        const std::string message = builder.errorText().empty()
                                        ? std::string("unreadable data")
                                        : parserMessage(builder.errorText());
        throw JobDecodingError(
            Kind::dataCorrupted, "", "",
            fmt::format("not valid JSON at byte {}: {}", builder.errorPosition(), message));
    }
    return document;
}

std::string found(const Json& value) {
    switch (value.type()) {
    case Json::value_t::null:
        return "null";
    case Json::value_t::object:
        return "an object";
    case Json::value_t::array:
        return "an array";
    case Json::value_t::string:
        return "a string";
    case Json::value_t::boolean:
        return "a boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        return "a number";
    case Json::value_t::binary:
        return "binary data";
    case Json::value_t::discarded:
        return "nothing";
    }
    return "something else";
}

// Where a value sits: the section ("" for the top level) and its key.
struct Field {
    std::string path;
    std::string key;
};

[[noreturn]] void fail(Kind kind, const Field& field, std::string detail = {}) {
    throw JobDecodingError(kind, field.path, field.key, std::move(detail));
}

[[noreturn]] void mismatch(const Field& field, const char* expected, const Json& value) {
    fail(Kind::typeMismatch, field, fmt::format("expected {}, found {}", expected, found(value)));
}

const Json* lookUp(const Json& object, const Field& field) {
    const auto it = object.find(field.key);
    return it == object.end() ? nullptr : &*it;
}

const Json& required(const Json& object, const Field& field, const char* expected) {
    const Json* value = lookUp(object, field);
    if (!value)
        fail(Kind::keyNotFound, field);
    if (value->is_null())
        fail(Kind::valueNotFound, field, fmt::format("expected {}, found null", expected));
    return *value;
}

// Absent and null alike mean no value.
const Json* optional(const Json& object, const Field& field) {
    const Json* value = lookUp(object, field);
    return value && !value->is_null() ? value : nullptr;
}

// A number that is not an integer within the signed 64-bit range is reported as
// data corrupted (the type is right, the value unusable); any other type as a type
// mismatch. Integral literals in any spelling count ("2e7", "30.0"): the document
// builder has stored them as integers.
std::int64_t toInt64(const Json& value, const Field& field) {
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            fail(Kind::dataCorrupted, field,
                 fmt::format("{} does not fit a signed 64-bit integer", unsignedValue));
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float())
        fail(Kind::dataCorrupted, field,
             fmt::format("{} is not an integer within the signed 64-bit range", value.dump()));
    mismatch(field, "an integer", value);
}

double toDouble(const Json& value, const Field& field) {
    if (!value.is_number())
        mismatch(field, "a number", value);
    return value.get<double>();
}

std::string toString(const Json& value, const Field& field) {
    if (!value.is_string())
        mismatch(field, "a string", value);
    return value.get<std::string>();
}

const Json& asObject(const Json& value, const Field& field) {
    if (!value.is_object())
        mismatch(field, "an object", value);
    return value;
}

Job::Output decodeOutput(const Json& output) {
    std::optional<double> fps;
    std::optional<std::int64_t> maxWidth;
    std::optional<std::int64_t> targetBitrate;
    std::optional<std::string> container;
    const Field fpsField{"output", "fps"};
    if (const Json* v = optional(output, fpsField))
        fps = toDouble(*v, fpsField);
    const Field maxWidthField{"output", "maxWidth"};
    if (const Json* v = optional(output, maxWidthField))
        maxWidth = toInt64(*v, maxWidthField);
    const Field bitrateField{"output", "targetBitrate"};
    if (const Json* v = optional(output, bitrateField))
        targetBitrate = toInt64(*v, bitrateField);
    const Field containerField{"output", "container"};
    if (const Json* v = optional(output, containerField))
        container = toString(*v, containerField);
    // Older readers ignore these keys, so a value they cannot use means "none"
    // here too rather than a refused job.
    auto saysCopy = [&](const char* key) {
        const Json* v = optional(output, Field{"output", key});
        return v && v->is_string() && v->get<std::string>() == "copy";
    };
    return Job::Output(fps, maxWidth, targetBitrate, std::move(container), saysCopy("audio"),
                       saysCopy("metadata"));
}

// A colourist's choice, not a requirement: an interpolation this version does
// not know falls back to the default rather than failing the job.
GradeOptions decodeGradeOptions(const Json& grade) {
    GradeOptions options;
    const Json* interpolation = optional(grade, Field{"grade", "interpolation"});
    if (interpolation && interpolation->is_string())
        options.interpolation = interpolationNamed(interpolation->get<std::string>())
                                    .value_or(Interpolation::trilinear);
    const Field strengthField{"grade", "strength"};
    if (const Json* v = optional(grade, strengthField)) {
        options.strength = toDouble(*v, strengthField);
        if (!validStrength(options.strength))
            fail(Kind::dataCorrupted, strengthField,
                 fmt::format("{} is not a strength from 0 to 1", v->dump()));
    }
    return options;
}

} // namespace

JobDecodingError::JobDecodingError(Kind kind, std::string path, std::string key, std::string detail)
    : Error(kind, makeSummary(kind, path, key, detail)), kind_(kind), path_(std::move(path)),
      key_(std::move(key)) {}

Job Job::decode(std::string_view bytes) {
    const Json document = parseDocument(bytes);
    const Json& top = asObject(document, Field{});

    const Field versionField{"", "version"};
    const auto version = toInt64(required(top, versionField, "an integer"), versionField);

    std::optional<Output> output;
    const Field outputField{"", "output"};
    if (const Json* v = optional(top, outputField))
        output = decodeOutput(asObject(*v, outputField));

    const Field gradeField{"", "grade"};
    const Json& grade = asObject(required(top, gradeField, "an object"), gradeField);
    const Field lutField{"grade", "lutCube"};
    auto lutCube = toString(required(grade, lutField, "a string"), lutField);

    return Job(version, std::move(output), Grade(std::move(lutCube), decodeGradeOptions(grade)));
}

} // namespace vantrel
