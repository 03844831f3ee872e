// vantrel-cli: grade a video from the command line, or look into a job file or a LUT.
// Exit codes: 0 success, 1 the work failed (its description on stderr), 2 the
// command line was wrong.

#include <cstdio>
#include <exception>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "cli/commands.hpp"
#include "cli/error_report.hpp"
#include "cli/output.hpp"
#include "core/error.hpp"
#include "exporter/exporter.hpp"

int main(int argc, char** argv) {
    vantrel::Exporter::prepareProcess(); // printing ignores a reader that went away
    CLI::App app{"Grades a video through a 3D LUT into a 10-bit HEVC file.", "vantrel-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "vantrel-cli " VANTREL_VERSION);

    int exitCode = 0;
    vantrel::cli::addLutCommand(app, exitCode);
    vantrel::cli::addJobCommand(app, exitCode);
    vantrel::cli::addExportCommands(app, exitCode);
    vantrel::cli::addPreviewCommand(app, exitCode);
    vantrel::cli::addBatchCommand(app, exitCode);

    try {
        app.parse(argc, argv);
    } catch (const CLI::RuntimeError& e) {
        return e.get_exit_code();
    } catch (const CLI::ParseError& e) {
        // --help and --version end parsing as successes; any other parse failure is a
        // usage error, whatever code CLI11 gives it.
        return app.exit(e) == 0 ? 0 : 2;
    } catch (const vantrel::Error& e) {
        vantrel::cli::printError(e);
        return 1;
    } catch (const std::exception& e) {
        vantrel::cli::printText(stderr, "vantrel-cli: {}\n", e.what());
        return 1;
    }
    return exitCode;
}
