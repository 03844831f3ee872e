#pragma once
// The verbs of vantrel-cli. Each adds its subcommand to the app; when the
// subcommand runs, its callback stores the process exit code in `exitCode`
// (0 success, 1 failure with the error's description on stderr).

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace vantrel::cli {

void addLutCommand(CLI::App& app, int& exitCode);
void addJobCommand(CLI::App& app, int& exitCode);
// `export` and `plan`.
void addExportCommands(CLI::App& app, int& exitCode);

// "vantrel-cli: warning: …" on stderr, one line each.
void printWarnings(const std::vector<std::string>& warnings);

} // namespace vantrel::cli
