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

namespace vantrel {
struct ExportRequest;
}

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

// What the command line puts in place of the job's choices; nothing where it says
// nothing, and the job decides.
struct JobOverrides {
    std::optional<Interpolation> interpolation;
    std::optional<double> strength;
    std::optional<bool> copyAudio;
    std::optional<bool> copyMetadata;

    void applyTo(ExportRequest& request) const;
};
// --interpolation and --strength (a strength outside 0 to 1 is a command-line error).
void addGradeOptions(CLI::App& command, JobOverrides& overrides);
// --audio and --metadata: copy or none.
void addCopyOptions(CLI::App& command, JobOverrides& overrides);

// "vantrel-cli: warning: …" on stderr, one line each.
void printWarnings(const std::vector<std::string>& warnings);

} // namespace vantrel::cli
