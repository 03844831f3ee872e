#pragma once
// The one error type of the whole system. Every failure is an Error; a cancelled
// export is not a failure and has its own type (ExportCancelled, exporter layer).
//
// An Error has
// - a domain: "export", "cube", "job", "media", "file", "imaging" or "batch";
// - a code, from the domain's enum below (for "file", the errno value);
// - a reason: one plain sentence. For the domains with an enum it follows from the
//   code alone; for "media" and "file" it says what was being done ("could not open
//   the HEVC encoder", "could not read \"/in/look.cube\"");
// - a detail: what the library or the system said (av_strerror's text and FFmpeg's
//   last log line, strerror), or more words of our own; may be empty;
// - a cause: the Error this one wraps, or none. Causes are chained, never pasted
//   into the detail.
//
// The text a user reads (description(), what()) follows Linux habits: domain and
// code first, then the reason, the detail in brackets, then each cause, outer to
// inner, after a colon, without their own domain and code:
//
//   export error 5: the video could not be decoded (Invalid data found when
//       processing input: moov atom not found)
//   export error 4: the output file could not be started: could not open the HEVC
//       encoder (Invalid argument: Image size is too small (4x2.))
//   file error 13: could not replace "/out/a.mov" (the file is read-only)
//
// Callers that want fields (--json) read domain(), code(), reason(), detail() and
// cause() instead of parsing the text.
//
// This library knows no codec library and no JSON: every layer may use it, and the
// job and LUT parsers link against it alone. Errors are immutable values, safe to
// copy and to read from any thread.

#include <concepts>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace vantrel {

// One export. Codes 1 to 7 follow the steps of the run.
enum class ExportCode {
    noVideoTrack = 1,      // the input has no video track
    undecodableTrack = 2,  // the video track cannot be decoded (or its size is unknown)
    settingsRefused = 3,   // the encoder does not accept the video settings
    outputNotStarted = 4,  // the output file could not be started
    inputUnreadable = 5,   // the video could not be decoded while running
    encodingStopped = 6,   // encoding stopped before all frames were written
    outputNotFinished = 7, // the output file could not be finished
    outputIsInput = 8,     // the output names the input video, the job or the LUT file
    noGrade = 9,           // reserved: no longer occurs (the grade cannot be missing)
    inputEndedEarly = 10,  // the input ended before the last frame its index lists
    cancelled = 11,        // reserved: a cancellation is ExportCancelled, not an Error
    lutTooLarge = 12,      // the LUT is larger than the grade can hold
    trackNotCopyable = 13, // the output's container cannot hold a track asked to be copied
    soundWouldDrift = 14   // the sound was asked for but the frame rate retimes the picture
};

// A .cube text.
enum class CubeCode {
    noSize = 1,       // neither a usable LUT_3D_SIZE nor LUT_1D_SIZE, or an unusable one given
    tooFewEntries = 2 // fewer entries than the sizes need
};

// A job file.
enum class JobCode {
    dataCorrupted = 1, // not JSON, too large, too deep, or an unusable number
    typeMismatch = 2,
    keyNotFound = 3,
    valueNotFound = 4 // a required value is null
};

// The media layer. An FFmpeg return code is never the code: it is libraryCode().
enum class MediaCode {
    library = 1,      // FFmpeg returned an error
    unsupported = 2,  // the libraries cannot do this with these parameters
    misuse = 3,       // an object was used out of order (no input, never started)
    noVideo = 4,      // finishing would leave a movie without pictures
    wrongPicture = 5, // a picture does not match what the encoder was opened for
    endedEarly = 6    // the file ended before the last sample its index lists
};

// The grade and its kernels.
enum class ImagingCode {
    unsupportedPicture = 1, // a picture the grade cannot read or write
    unsupportedCube = 2     // a cube the grade cannot hold
};

// Planning a batch.
enum class BatchCode {
    unreadableInput = 1, // an input file or folder is missing or cannot be read
    sharedOutput = 2,    // two clips would be written to one output
    clipFailed = 3       // a clip failed in a way no other domain describes
};

std::string_view errorDomain(ExportCode);
std::string_view errorDomain(CubeCode);
std::string_view errorDomain(JobCode);
std::string_view errorDomain(MediaCode);
std::string_view errorDomain(ImagingCode);
std::string_view errorDomain(BatchCode);

// The reason for a code. For MediaCode it is a generic one; media errors usually
// carry a reason saying what was being done.
std::string_view errorReason(ExportCode);
std::string_view errorReason(CubeCode);
std::string_view errorReason(JobCode);
std::string_view errorReason(MediaCode);
std::string_view errorReason(ImagingCode);
std::string_view errorReason(BatchCode);

template <typename Code>
concept ErrorCode = std::is_enum_v<Code> && requires(Code code) {
    { errorDomain(code) } -> std::convertible_to<std::string_view>;
    { errorReason(code) } -> std::convertible_to<std::string_view>;
};

class Error : public std::exception {
public:
    // The most links a chain keeps, this error included. Wrapping a longer chain
    // drops the links just below the new outer error: the outermost context and the
    // innermost (what the library said) are what a reader needs.
    static constexpr int maxChain = 8;

    // The reason that goes with the code.
    template <ErrorCode Code>
    explicit Error(Code code, std::string detail = {})
        : Error(std::string(errorDomain(code)), static_cast<int>(code),
                std::string(errorReason(code)), std::move(detail)) {}
    template <ErrorCode Code>
    Error(Code code, std::string detail, const Error& cause)
        : Error(std::string(errorDomain(code)), static_cast<int>(code),
                std::string(errorReason(code)), std::move(detail), 0, &cause) {}

    // A reason of its own (media, file: what was being done). `libraryCode` is the
    // AVERROR or errno value behind it, 0 when none.
    Error(std::string domain, int code, std::string reason, std::string detail = {},
          int libraryCode = 0, const Error* cause = nullptr);

    const std::string& domain() const noexcept { return domain_; }
    int code() const noexcept { return code_; }
    const std::string& reason() const noexcept { return reason_; }
    const std::string& detail() const noexcept { return detail_; }
    // The wrapped error, or null. Lives as long as this error (or a copy of it).
    const Error* cause() const noexcept { return cause_.get(); }
    // The FFmpeg (negative AVERROR) or system (errno) value behind the error, 0 when
    // none. Never shown as the code.
    int libraryCode() const noexcept { return libraryCode_; }

    // True when this error is of `code`'s domain and number.
    template <ErrorCode Code> bool is(Code code) const noexcept {
        return code_ == static_cast<int>(code) && domain_ == errorDomain(code);
    }

    // The text a user reads; see the top of this file.
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string domain_;
    int code_;
    std::string reason_;
    std::string detail_;
    int libraryCode_;
    std::shared_ptr<const Error> cause_;
    std::string description_;
};

// A file-system failure: domain "file", code and libraryCode the errno value, the
// reason "could not <action> \"<path>\"", the detail strerror's text (or `detail`,
// where the system's text for the code would mislead).
class FileError : public Error {
public:
    FileError(int errnoValue, std::string_view action, const std::filesystem::path& path);
    FileError(int errnoValue, std::string_view action, const std::filesystem::path& path,
              std::string detail);
};

} // namespace vantrel
