#include "cli/error_report.hpp"

#include <cstdio>

#include <fmt/format.h>

#include "cli/output.hpp"

namespace vantrel::cli {

void printError(const Error& error) {
    printText(stderr, "vantrel-cli: {}\n", error.description());
}

} // namespace vantrel::cli
