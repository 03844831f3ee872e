#pragma once
// The job file: a format version, optional output preferences and the grade
// with its LUT as .cube text. Decode-only value types.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/error.hpp"
#include "core/grade_options.hpp"

namespace vantrel {

// A job file holds a LUT as text: 64 MiB is room for a 129-point cube. Larger files,
// and JSON nested deeper than the limit, are refused before they can tie up memory.
inline constexpr std::size_t maxJobFileBytes = std::size_t{64} << 20;
inline constexpr std::size_t maxJobNesting = 64;

class Job {
public:
    class Output {
    public:
        Output(std::optional<double> fps, std::optional<std::int64_t> maxWidth,
               std::optional<std::int64_t> targetBitrate, std::optional<std::string> container,
               bool copyAudio = false, bool copyMetadata = false)
            : fps_(fps), maxWidth_(maxWidth), targetBitrate_(targetBitrate),
              container_(std::move(container)), copyAudio_(copyAudio), copyMetadata_(copyMetadata) {
        }
        const std::optional<double>& fps() const { return fps_; }
        const std::optional<std::int64_t>& maxWidth() const { return maxWidth_; }
        const std::optional<std::int64_t>& targetBitrate() const { return targetBitrate_; }
        const std::optional<std::string>& container() const { return container_; }
        // `audio` and `metadata` say "copy"; any other value, of any type, means no.
        bool copyAudio() const { return copyAudio_; }
        bool copyMetadata() const { return copyMetadata_; }

    private:
        std::optional<double> fps_;
        std::optional<std::int64_t> maxWidth_;
        std::optional<std::int64_t> targetBitrate_;
        std::optional<std::string> container_;
        bool copyAudio_;
        bool copyMetadata_;
    };

    class Grade {
    public:
        explicit Grade(std::string lutCube, GradeOptions options = {})
            : lutCube_(std::move(lutCube)), options_(options) {}
        const std::string& lutCube() const { return lutCube_; }
        // `interpolation` ("tetrahedral"; trilinear for anything else) and
        // `strength` (0 to 1, default 1).
        const GradeOptions& options() const { return options_; }

    private:
        std::string lutCube_;
        GradeOptions options_;
    };

    Job(std::int64_t version, std::optional<Output> output, Grade grade)
        : version_(version), output_(std::move(output)), grade_(std::move(grade)) {}
    std::int64_t version() const { return version_; }
    const std::optional<Output>& output() const { return output_; }
    const Grade& grade() const { return grade_; }

    // Decodes a job from the bytes of a job file; throws JobDecodingError, of kind
    // dataCorrupted for more than maxJobFileBytes or JSON nested deeper than
    // maxJobNesting.
    static Job decode(std::string_view bytes);

private:
    std::int64_t version_;
    std::optional<Output> output_;
    Grade grade_;
};

// Why a job file could not be decoded. Domain "job", code the kind (JobCode); the
// detail says what and where, e.g. `keyNotFound: "lutCube" at grade`.
class JobDecodingError : public Error {
public:
    using Kind = JobCode;

    // `path` is where it happened ("" for the top level, "output", "grade"); `key`
    // the key concerned, or empty; `detail` more words, e.g. where the JSON broke.
    JobDecodingError(Kind kind, std::string path, std::string key, std::string detail = {});

    Kind kind() const { return kind_; }
    const std::string& path() const { return path_; }
    const std::string& key() const { return key_; }

private:
    Kind kind_;
    std::string path_;
    std::string key_;
};

} // namespace vantrel
