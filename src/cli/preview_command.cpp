// `vantrel-cli preview`: one frame graded as the export grades it, as a PNG.

#include <cmath>

#include "cli/commands.hpp"
#include "cli/error_report.hpp"
#include "cli/output.hpp"
#include "exporter/preview.hpp"

namespace vantrel::cli {

namespace {

struct PreviewArguments {
    std::string job;
    std::string input;
    std::string lut;
    std::string output;
    double at = 0;
    std::optional<double> split;
    JobOverrides overrides; // the grade's only
};

int runPreview(const PreviewArguments& args) {
    try {
        ExportRequest request{args.job, std::nullopt, args.input, {}, std::nullopt};
        if (!args.lut.empty())
            request.lutOverridePath = args.lut;
        args.overrides.applyTo(request);
        Previewer previewer(request);
        printWarnings(previewer.warnings());
        const auto image = previewer.imageAt(args.at, args.split.value_or(0));
        previewer.writePng(args.output, image);
        printText("Preview: {} ({}x{}, the frame at {:.3f} s)\n", args.output, image.width,
                  image.height, image.seconds);
        return 0;
    } catch (const Error& error) {
        printError(error);
        return 1;
    }
}

} // namespace

void addPreviewCommand(CLI::App& app, int& exitCode) {
    static PreviewArguments args;
    auto* command = app.add_subcommand(
        "preview", "Write one frame, graded as the export grades it, as a 16-bit PNG");
    command->add_option("--job", args.job, "Job file (JSON)")->required()->check(CLI::ExistingFile);
    command->add_option("--input", args.input, "Video to grade")
        ->required()
        ->check(CLI::ExistingFile);
    command->add_option("--lut", args.lut, ".cube file that replaces the job's LUT")
        ->check(CLI::ExistingFile);
    command->add_option("--output", args.output, "PNG file to write")->required();
    command->add_option("--at", args.at, "Time of the frame in seconds (default 0: the first)")
        ->check(CLI::NonNegativeNumber);
    command
        ->add_option("--split", args.split,
                     "Show the source left of this fraction of the width, graded right of it "
                     "(default: graded only)")
        ->check(CLI::Range(0.0, 1.0));
    addGradeOptions(*command, args.overrides);
    command->callback([&exitCode] { exitCode = runPreview(args); });
}

} // namespace vantrel::cli
