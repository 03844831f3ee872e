#include "cli/error_report.hpp"

#include <cstdio>

#include <fmt/format.h>

namespace vantrel::cli {

void printError(const Error& error) {
    fmt::print(stderr, "vantrel-cli: {}\n", error.description());
}

} // namespace vantrel::cli
