#pragma once
// The one error type of the whole system. Every failure that reaches a user is an
// Error (or derives from it) with a domain, an integer code, a plain-words reason
// and, where known, the underlying cause (an encoder's or the file system's text).
// The window and the command line show description(); nothing else is logged.

#include <cerrno>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace vantrel {

class Error : public std::exception {
public:
    Error(std::string domain, long long code, std::string reason, std::string cause = {});

    const std::string& domain() const noexcept { return domain_; }
    long long code() const noexcept { return code_; }
    // One sentence that follows from domain and code alone.
    const std::string& reason() const noexcept { return reason_; }
    // What the underlying library or system said, or empty.
    const std::string& cause() const noexcept { return cause_; }

    // The full description, e.g.
    //   Error Domain=cube Code=2 "The LUT has fewer entries than its size needs."
    // followed by " (cause)" when a cause is known.
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string domain_;
    long long code_;
    std::string reason_;
    std::string cause_;
    std::string description_;
};

// A negative FFmpeg return code, with what we were doing when it came.
// Domain "media", code the AVERROR value.
class MediaError : public Error {
public:
    MediaError(int averror, std::string_view action);
    MediaError(std::string_view action, std::string_view detail);
};

// Routes FFmpeg's log into our errors: nothing is printed; the last error-level
// line a library logged on this thread becomes part of the next MediaError's cause
// (x265 says "Image size is too small" where the return code only says EINVAL).
// Idempotent; called by the media objects before they use the libraries.
void captureLibraryLog();

// Throws MediaError for a negative rc; returns rc otherwise. EAGAIN and EOF are
// states of the calling loop and must be tested before calling this.
int check(int rc, std::string_view action);

// A file-system failure. Domain "file", code the errno value.
class FileError : public Error {
public:
    FileError(int errnoValue, std::string_view action, const std::filesystem::path& path);
};

} // namespace vantrel
