#include "core/error.hpp"

#include <cstring>
#include <utility>

#include <fmt/format.h>

namespace vantrel {

std::string_view errorDomain(ExportCode) {
    return "export";
}
std::string_view errorDomain(CubeCode) {
    return "cube";
}
std::string_view errorDomain(JobCode) {
    return "job";
}
std::string_view errorDomain(MediaCode) {
    return "media";
}
std::string_view errorDomain(ImagingCode) {
    return "imaging";
}
std::string_view errorDomain(BatchCode) {
    return "batch";
}

// Exhaustive switches: a new code without a reason is a compiler warning.
std::string_view errorReason(ExportCode code) {
    switch (code) {
    case ExportCode::noVideoTrack:
        return "the input has no video track";
    case ExportCode::undecodableTrack:
        return "the input's video track cannot be decoded";
    case ExportCode::settingsRefused:
        return "the encoder does not accept the video settings";
    case ExportCode::outputNotStarted:
        return "the output file could not be started";
    case ExportCode::inputUnreadable:
        return "the video could not be decoded";
    case ExportCode::encodingStopped:
        return "encoding stopped before all frames were written";
    case ExportCode::outputNotFinished:
        return "the output file could not be finished";
    case ExportCode::outputIsInput:
        return "the output file is one of the files the export reads; choose another output file";
    case ExportCode::noGrade:
        return "no grade is available";
    case ExportCode::inputEndedEarly:
        return "the input ended before its last frame";
    case ExportCode::cancelled:
        return "the export was cancelled";
    case ExportCode::lutTooLarge:
        return "the LUT is larger than the grade can hold";
    case ExportCode::trackNotCopyable:
        return "the output file cannot hold a track of the input as it is";
    case ExportCode::soundWouldDrift:
        return "the sound cannot be kept in sync with the picture";
    }
    return "the export failed";
}

std::string_view errorReason(CubeCode code) {
    switch (code) {
    case CubeCode::noSize:
        return "the LUT has no usable size: LUT_3D_SIZE or LUT_1D_SIZE (each when given) must be "
               "2 or more";
    case CubeCode::tooFewEntries:
        return "the LUT has fewer entries than its size needs";
    }
    return "the LUT could not be read";
}

std::string_view errorReason(JobCode code) {
    switch (code) {
    case JobCode::dataCorrupted:
        return "the job file is not well-formed JSON, is too large or too deeply nested, or holds "
               "a number that cannot be used";
    case JobCode::typeMismatch:
        return "a value in the job file has the wrong type";
    case JobCode::keyNotFound:
        return "the job file lacks a required key";
    case JobCode::valueNotFound:
        return "a required value in the job file is null";
    }
    return "the job file could not be read";
}

std::string_view errorReason(MediaCode code) {
    switch (code) {
    case MediaCode::library:
        return "FFmpeg returned an error";
    case MediaCode::unsupported:
        return "the media libraries cannot do this with these parameters";
    case MediaCode::misuse:
        return "a media object was used out of order";
    case MediaCode::noVideo:
        return "the movie would have no pictures";
    case MediaCode::wrongPicture:
        return "a picture does not match what the encoder was opened for";
    case MediaCode::endedEarly:
        return "the file ended before its last sample";
    }
    return "the media libraries failed";
}

std::string_view errorReason(ImagingCode code) {
    switch (code) {
    case ImagingCode::unsupportedPicture:
        return "the picture cannot be graded into that buffer";
    case ImagingCode::unsupportedCube:
        return "the grade cannot hold this cube";
    }
    return "the picture could not be graded";
}

std::string_view errorReason(BatchCode code) {
    switch (code) {
    case BatchCode::unreadableInput:
        return "an input of the batch cannot be read";
    case BatchCode::sharedOutput:
        return "two clips share an output name; grade them in separate batches or rename one";
    case BatchCode::clipFailed:
        return "the clip could not be graded";
    }
    return "the batch could not be planned";
}

namespace {

int chainLength(const Error* error) {
    int length = 0;
    for (; error; error = error->cause())
        ++length;
    return length;
}

// "reason (detail): cause…", without domain and code.
void describe(const Error& error, std::string& text) {
    text += error.reason();
    if (!error.detail().empty())
        text += fmt::format(" ({})", error.detail());
    if (const Error* cause = error.cause()) {
        text += ": ";
        describe(*cause, text);
    }
}

} // namespace

Error::Error(std::string domain, int code, std::string reason, std::string detail, int libraryCode,
             const Error* cause)
    : domain_(std::move(domain)), code_(code), reason_(std::move(reason)),
      detail_(std::move(detail)), libraryCode_(libraryCode) {
    while (cause && chainLength(cause) >= maxChain)
        cause = cause->cause();
    if (cause)
        cause_ = std::make_shared<const Error>(*cause);
    description_ = fmt::format("{} error {}: ", domain_, code_);
    describe(*this, description_);
}

FileError::FileError(int errnoValue, std::string_view action, const std::filesystem::path& path)
    : FileError(errnoValue, action, path, std::strerror(errnoValue)) {}

FileError::FileError(int errnoValue, std::string_view action, const std::filesystem::path& path,
                     std::string detail)
    : Error("file", errnoValue, fmt::format("could not {} \"{}\"", action, path.string()),
            std::move(detail), errnoValue) {}

} // namespace vantrel
