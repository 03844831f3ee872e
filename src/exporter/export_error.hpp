#pragma once
// How an export fails, and how it stops without failing.

#include <exception>
#include <string>

#include "core/error.hpp"

namespace vantrel {

// Domain "export"; the codes and their reasons are ExportCode's (core/error.hpp).
class ExportError : public Error {
public:
    explicit ExportError(ExportCode code, std::string detail = {})
        : Error(code, std::move(detail)) {}
    ExportError(ExportCode code, std::string detail, const Error& cause)
        : Error(code, std::move(detail), cause) {}
    // By number, for callers that still count: `code` must be one of ExportCode's.
    explicit ExportError(int code, std::string detail = {})
        : Error(static_cast<ExportCode>(code), std::move(detail)) {}
};

// The run was stopped through its cancellation token: not a failure, so not an
// Error. Callers catch it before Error and std::exception. The command line exits
// with 130, the window says it stopped; a batch counts the clip as stopped.
class ExportCancelled : public std::exception {
public:
    // Kept for readers of old reports: the number a cancellation once had.
    static constexpr int code = static_cast<int>(ExportCode::cancelled);
    const char* what() const noexcept override { return "the export was cancelled"; }
};

} // namespace vantrel
