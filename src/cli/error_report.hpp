#pragma once
// How the command line shows an Error: as one line on stderr for a person, or as a
// JSON object for a program (the batch report's "error").

#include <nlohmann/json.hpp>

#include "core/error.hpp"

namespace vantrel::cli {

// {"domain", "code", "reason", "detail", "cause", "description"}: "detail" is ""
// when there is none, "cause" the wrapped error as the same kind of object, or null;
// "description" the text a person reads, for scripts that only pass it on.
inline nlohmann::json errorJson(const Error& error) {
    return {
        {"domain", error.domain()},
        {"code", error.code()},
        {"reason", error.reason()},
        {"detail", error.detail()},
        {"cause", error.cause() ? errorJson(*error.cause()) : nlohmann::json(nullptr)},
        {"description", error.description()},
    };
}

// "vantrel-cli: <description>" and a newline on stderr.
void printError(const Error& error);

} // namespace vantrel::cli
