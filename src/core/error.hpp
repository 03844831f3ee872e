#pragma once
// The one error type of the whole system. Every failure that reaches a user is an
// Error (or derives from it) with a domain, an integer code, a plain-words reason
// and, where known, the underlying cause (an encoder's or the file system's text).
// The window and the command line show description(); nothing else is logged.
//
// This library knows no codec library: every layer may use it, and the job and
// LUT parsers link against it alone.

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

// A file-system failure. Domain "file", code the errno value.
class FileError : public Error {
public:
    FileError(int errnoValue, std::string_view action, const std::filesystem::path& path);
    // With a cause of our own where the system's text for the code would mislead.
    FileError(int errnoValue, std::string_view action, const std::filesystem::path& path,
              std::string cause);
};

} // namespace vantrel
