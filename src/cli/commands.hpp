#pragma once
// The verbs of vantrel-cli. Each adds its subcommand to the app; when the
// subcommand runs, its callback stores the process exit code in `exitCode`
// (0 success, 1 failure with the error's description on stderr).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "core/grade_options.hpp"

namespace vantrel::cli {

void addLutCommand(CLI::App& app, int& exitCode);
void addJobCommand(CLI::App& app, int& exitCode);
// `export` and `plan`.
void addExportCommands(CLI::App& app, int& exitCode);
// `preview`: one graded frame as a PNG.
void addPreviewCommand(CLI::App& app, int& exitCode);
// `batch`: one job over many clips. Exit 130 when stopped by a signal.
void addBatchCommand(CLI::App& app, int& exitCode);

// The x265 speed presets --preset accepts.
extern const std::vector<std::string> presets;
// --bitrate-mbps as bits per second; text that is no positive number gives no
// override and a warning on stderr.
std::optional<std::int64_t> bitrateOverrideOrWarn(const std::string& mbps);

// --interpolation and --strength, which replace the job's grade options (a
// strength outside 0 to 1 is a command-line error).
struct GradeOverrides {
    std::optional<Interpolation> interpolation;
    std::optional<double> strength;
};
void addGradeOptions(CLI::App& command, GradeOverrides& overrides);

// --audio and --metadata (copy or none) into `audio` and `metadata`; and what
// such a value asks of the export (nothing when not given: the job decides).
void addCopyOptions(CLI::App& command, std::string& audio, std::string& metadata);
std::optional<bool> copyChoice(const std::string& value);

// "vantrel-cli: warning: …" on stderr, one line each.
void printWarnings(const std::vector<std::string>& warnings);

} // namespace vantrel::cli
