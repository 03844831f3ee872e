// `vantrel-cli export` and `vantrel-cli plan`.

#include <chrono>
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "cli/commands.hpp"
#include "cli/error_report.hpp"
#include "cli/output.hpp"
#include "cli/signals.hpp"
#include "exporter/exporter.hpp"

namespace vantrel::cli {

namespace {

struct ExportArguments {
    std::string job;
    std::string input;
    std::string lut;
    std::string output;
    std::string bitrateMbps;
    std::string preset = "medium";
    JobOverrides overrides;
    bool quiet = false;
};

void addSharedOptions(CLI::App& command, ExportArguments& args) {
    command.add_option("--job", args.job, "Job file (JSON)")->required()->check(CLI::ExistingFile);
    command.add_option("--input", args.input, "Video to grade")
        ->required()
        ->check(CLI::ExistingFile);
    command.add_option("--lut", args.lut, ".cube file that replaces the job's LUT")
        ->check(CLI::ExistingFile);
    command.add_option("--output", args.output,
                       "Output file (default: next to the input, <name>_vantrel_10bit.<mov|mp4>)");
    command.add_option("--bitrate-mbps", args.bitrateMbps,
                       "Average bitrate in Mbit/s, e.g. 12 or 12,5 (default: the job's)");
    addGradeOptions(command, args.overrides);
    addCopyOptions(command, args.overrides);
}

std::filesystem::path outputPath(const ExportArguments& args) {
    if (!args.output.empty())
        return args.output;
    std::filesystem::path input(args.input);
    return input.parent_path() / Exporter::defaultOutputName(input);
}

std::optional<std::filesystem::path> lutPath(const ExportArguments& args) {
    if (args.lut.empty())
        return std::nullopt;
    return std::filesystem::path(args.lut);
}

std::optional<std::int64_t> bitrateOverride(const ExportArguments& args) {
    return bitrateOverrideOrWarn(args.bitrateMbps);
}

ExportRequest requestOf(const ExportArguments& args) {
    ExportRequest request{args.job, lutPath(args), args.input, outputPath(args),
                          bitrateOverride(args)};
    args.overrides.applyTo(request);
    return request;
}

nlohmann::json settingsJson(const media::EncoderSettings& s) {
    nlohmann::json json = {
        {"codec", "hevc"},
        {"profile", "main10"},
        {"width", s.width},
        {"height", s.height},
        {"timescale", s.timescale},
        {"frameStep", s.frameStep},
        {"keyFrameInterval", s.keyFrameInterval},
        {"allowFrameReordering", s.allowFrameReordering},
    };
    if (s.targetBitrate)
        json["targetBitrate"] = *s.targetBitrate;
    if (s.maxBitrate)
        json["maxBitrate"] = *s.maxBitrate;
    return json;
}

nlohmann::json colourJson(const ColourDescription& c) {
    return {{"primaries", nameOf(c.primaries)},
            {"transfer", nameOf(c.transfer)},
            {"matrix", nameOf(c.matrix)},
            {"range", nameOf(c.range)},
            {"chromaSiting", nameOf(c.siting)}};
}

// What the output takes over from the source; empty lists when nothing is copied.
nlohmann::json copiedJson(const ExportPlan& plan) {
    auto audio = nlohmann::json::array();
    for (const auto& track : plan.copiedAudio)
        audio.push_back({{"index", track.index},
                         {"codec", track.codec},
                         {"language", track.language.empty() ? nlohmann::json(nullptr)
                                                             : nlohmann::json(track.language)}});
    auto tags = nlohmann::json::object();
    for (const auto& tag : plan.copiedTags)
        tags[tag.key] = tag.value;
    return {{"audio", audio},
            {"metadata", tags},
            {"timecode", plan.copiedTimecode.empty() ? nlohmann::json(nullptr)
                                                     : nlohmann::json(plan.copiedTimecode)}};
}

class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    ~ProgressLine() { clear(); }

    // Removes the line so that what follows starts on a clean line.
    void clear() {
        if (shown_)
            std::fputs("\r\033[K", stderr);
        shown_ = false;
        enabled_ = false;
    }

    void update(std::int64_t done, std::int64_t expected) {
        if (!enabled_)
            return;
        auto now = std::chrono::steady_clock::now();
        if (done > 1 && now - lastShown_ < std::chrono::milliseconds(200))
            return;
        lastShown_ = now;
        double seconds = std::chrono::duration<double>(now - start_).count();
        double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
        std::string line;
        if (expected > 0) {
            auto shownDone = std::min(done, expected);
            line = fmt::format("{:3d}%  {}/{} frames  {:.1f} fps", 100 * shownDone / expected, done,
                               expected, rate);
            if (rate > 0) {
                auto left =
                    static_cast<long long>(static_cast<double>(expected - shownDone) / rate);
                line += fmt::format("  {}:{:02d} left", left / 60, left % 60);
            }
        } else {
            line = fmt::format("{} frames  {:.1f} fps", done, rate);
        }
        printText(stderr, "\r\033[K{}", line);
        std::fflush(stderr);
        shown_ = true;
    }

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastShown_;
};

int runExport(const ExportArguments& args) {
    ProgressLine progress(!args.quiet && isatty(STDERR_FILENO));
    ExportOptions options;
    options.preset = args.preset;
    options.cancellation = &stopOnSignals();
    options.progress = [&progress](std::int64_t done, std::int64_t expected) {
        progress.update(done, expected);
    };
    try {
        auto result = Exporter::exportVideo(requestOf(args), options);
        progress.clear();
        printWarnings(result.warnings);
        printText("Done: {}\n", result.outputPath.string());
        return 0;
    } catch (const ExportCancelled&) {
        progress.clear();
        printText(stderr, "vantrel-cli: export stopped; no output was written.\n");
        return 130;
    } catch (const Error& error) {
        progress.clear();
        printError(error);
        return 1;
    }
}

int runPlan(const ExportArguments& args) {
    auto plan = Exporter::plan(requestOf(args));
    printWarnings(plan.warnings);
    nlohmann::json json = {
        {"fps", plan.fps},
        {"timescale", plan.timebase.timescale},
        {"frameStep", plan.timebase.frameStep},
        {"width", plan.size.width},
        {"height", plan.size.height},
        {"encodedWidth", plan.encodedSize.width},
        {"encodedHeight", plan.encodedSize.height},
        {"targetBitrate", plan.targetBitrate},
        {"fileType", media::fileTypeName(plan.fileType)},
        {"lutSize", plan.lutSize},
        {"interpolation", nameOf(plan.grade.interpolation)},
        {"strength", plan.grade.strength},
        {"output", outputPath(args).string()},
        {"encoderSettings", settingsJson(plan.encoderSettings)},
        {"sourceColour", colourJson(plan.sourceColour)},
        // What the render writes: BT.709 tags, full range, chroma averaged back to the
        // left siting that HEVC assumes when none is tagged. The LUT sees the source's
        // values as decoded.
        {"outputColour", colourJson(bt709Full)},
        {"copied", copiedJson(plan)},
    };
    std::cout << json.dump(2) << "\n";
    return 0;
}

} // namespace

const std::vector<std::string> presets = {"ultrafast", "superfast", "veryfast", "faster",
                                          "fast",      "medium",    "slow",     "slower",
                                          "veryslow",  "placebo"};

std::optional<std::int64_t> bitrateOverrideOrWarn(const std::string& mbps) {
    auto bps = Exporter::parseBitrateOverride(mbps);
    if (!bps && mbps.find_first_not_of(" \t") != std::string::npos)
        printText(stderr,
                  "vantrel-cli: --bitrate-mbps \"{}\" is not a positive number of "
                  "Mbit/s; using the job's bitrate.\n",
                  mbps);
    return bps;
}

void JobOverrides::applyTo(ExportRequest& request) const {
    request.interpolationOverride = interpolation;
    request.strengthOverride = strength;
    request.copyAudio = copyAudio;
    request.copyMetadata = copyMetadata;
}

void addGradeOptions(CLI::App& command, JobOverrides& overrides) {
    command
        .add_option_function<std::string>(
            "--interpolation",
            [&overrides](const std::string& name) {
                overrides.interpolation = interpolationNamed(name);
            },
            "Between the cube's entries: trilinear or tetrahedral (default: the job's)")
        ->check(CLI::IsMember({std::string(nameOf(Interpolation::trilinear)),
                               std::string(nameOf(Interpolation::tetrahedral))}));
    command
        .add_option_function<double>(
            "--strength", [&overrides](const double& strength) { overrides.strength = strength; },
            "How much of the grade to apply, 0 (none) to 1 (all; default: the job's)")
        ->check(CLI::Range(0.0, 1.0));
}

void addCopyOptions(CLI::App& command, JobOverrides& overrides) {
    const auto option = [&command](const char* name, std::optional<bool>& copy, const char* help) {
        command
            .add_option_function<std::string>(
                name, [&copy](const std::string& value) { copy = value == "copy"; }, help)
            ->check(CLI::IsMember({"copy", "none"}));
    };
    option("--audio", overrides.copyAudio,
           "copy: keep every audio track, packets unchanged; none (default: the job's)");
    option("--metadata", overrides.copyMetadata,
           "copy: keep the date, place, camera and timecode; none (default: the job's)");
}

void addExportCommands(CLI::App& app, int& exitCode) {
    static ExportArguments exportArgs;
    auto* exportCommand = app.add_subcommand("export", "Grade a video into a 10-bit HEVC file");
    addSharedOptions(*exportCommand, exportArgs);
    exportCommand->add_option("--preset", exportArgs.preset, "x265 speed preset (default medium)")
        ->check(CLI::IsMember(presets));
    exportCommand->add_flag("--quiet", exportArgs.quiet, "No progress line");
    exportCommand->callback([&exitCode] { exitCode = runExport(exportArgs); });

    static ExportArguments planArgs;
    auto* planCommand =
        app.add_subcommand("plan", "Print, as JSON, what an export would do; writes nothing");
    addSharedOptions(*planCommand, planArgs);
    planCommand->add_option("--preset", planArgs.preset, "Accepted for symmetry with export")
        ->check(CLI::IsMember(presets));
    planCommand->add_flag("--quiet", planArgs.quiet, "Accepted for symmetry with export");
    planCommand->callback([&exitCode] {
        try {
            exitCode = runPlan(planArgs);
        } catch (const Error& error) {
            printError(error);
            exitCode = 1;
        }
    });
}

} // namespace vantrel::cli
