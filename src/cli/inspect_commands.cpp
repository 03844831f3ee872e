// `vantrel-cli lut` and `vantrel-cli job`: what a LUT or a job file holds.

#include <charconv>
#include <cmath>
#include <iostream>
#include <optional>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <nlohmann/json.hpp>

#include "cli/commands.hpp"
#include "cli/output.hpp"
#include "exporter/exporter.hpp"

namespace vantrel::cli {

namespace {

using OrderedJson = nlohmann::ordered_json;

struct InspectArguments {
    std::string file;
    bool json = false;
};

// The smallest and largest value of one channel. NaN takes no part; a channel of
// NaN only has neither.
struct ChannelRange {
    std::optional<float> min;
    std::optional<float> max;

    void add(float value) {
        if (std::isnan(value))
            return;
        min = min ? std::min(*min, value) : value;
        max = max ? std::max(*max, value) : value;
    }
};

std::string readable(std::optional<float> value) {
    return value ? fmt::format("{}", *value) : "nan";
}

// JSON has neither NaN nor infinities: such a bound is written as null. A finite
// float goes out in its shortest spelling (0.1, not 0.10000000149011612).
OrderedJson jsonNumber(std::optional<float> value) {
    if (!value || !std::isfinite(*value))
        return nullptr;
    char text[32];
    const auto written = std::to_chars(std::begin(text), std::end(text), *value);
    double widened = 0;
    std::from_chars(text, written.ptr, widened);
    return widened;
}

// What a file's tables are, in a line: "1D table of 1024 entries over 0 to 1, 3D
// cube of 17 points over 0 to 1, domain …".
std::string describeFile(const CubeFileContents& file) {
    std::vector<std::string> parts;
    if (file.curveSize)
        parts.push_back(fmt::format("1D table of {} entries over {} to {}", *file.curveSize,
                                    file.curveRange.min, file.curveRange.max));
    if (file.cubeSize)
        parts.push_back(fmt::format("3D cube of {} points over {} to {}", *file.cubeSize,
                                    file.cubeRange.min, file.cubeRange.max));
    if (file.domain != std::array<LutRange, 3>{}) {
        const auto& [r, g, b] = file.domain;
        parts.push_back(
            fmt::format("domain {} {} {} to {} {} {}", r.min, g.min, b.min, r.max, g.max, b.max));
    }
    return fmt::format("{}", fmt::join(parts, ", "));
}

void printJson(const OrderedJson& json) {
    std::cout << json.dump(-1, ' ', false, OrderedJson::error_handler_t::replace) << "\n";
}

int inspectLut(const InspectArguments& args) {
    const auto lut = Exporter::parseCube(Exporter::readLutFile(args.file));
    const std::int64_t entries = lut.size * lut.size * lut.size;
    ChannelRange ranges[3];
    for (std::int64_t i = 0; i < entries; ++i) {
        const float* entry = lut.rgb.data() + 3 * i;
        for (int channel = 0; channel < 3; ++channel)
            ranges[channel].add(entry[channel]);
    }
    if (args.json) {
        OrderedJson json;
        json["size"] = lut.size;
        json["entries"] = entries;
        json["min"] = {jsonNumber(ranges[0].min), jsonNumber(ranges[1].min),
                       jsonNumber(ranges[2].min)};
        json["max"] = {jsonNumber(ranges[0].max), jsonNumber(ranges[1].max),
                       jsonNumber(ranges[2].max)};
        json["warnings"] = lut.warnings;
        const auto& file = lut.file;
        const auto range = [](LutRange r) { return OrderedJson::array({r.min, r.max}); };
        const auto domain = [&](bool max) {
            OrderedJson ends = OrderedJson::array();
            for (const LutRange& r : file.domain)
                ends.push_back(max ? r.max : r.min);
            return ends;
        };
        json["file"] = {{"lut1dSize", file.curveSize ? OrderedJson(*file.curveSize) : nullptr},
                        {"lut1dInputRange", file.curveSize ? range(file.curveRange) : nullptr},
                        {"lut3dSize", file.cubeSize ? OrderedJson(*file.cubeSize) : nullptr},
                        {"lut3dInputRange", file.cubeSize ? range(file.cubeRange) : nullptr},
                        {"domainMin", domain(false)},
                        {"domainMax", domain(true)}};
        json["applied"] = {
            {"baked", lut.baked}, {"size", lut.size}, {"inputRange", range(lut.input)}};
        printJson(json);
        return 0;
    }
    printWarnings(lut.warnings);
    printText("LUT size: {}\nEntries:  {}\n", lut.size, entries);
    const char* names[3] = {"Red:  ", "Green:", "Blue: "};
    for (int channel = 0; channel < 3; ++channel)
        printText("{}    {} to {}\n", names[channel], readable(ranges[channel].min),
                  readable(ranges[channel].max));
    printText("File:     {}\nApplied:  {}\n", describeFile(lut.file),
              lut.baked ? fmt::format("baked into a {}-point cube over {} to {}", lut.size,
                                      lut.input.min, lut.input.max)
                        : std::string("as the file's own cube"));
    return 0;
}

template <typename T> std::string readableField(const std::optional<T>& value) {
    if (!value)
        return "absent";
    if constexpr (std::is_same_v<T, std::string>)
        return OrderedJson(*value).dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
    else
        return fmt::format("{}", *value);
}

template <typename T> OrderedJson jsonField(const std::optional<T>& value) {
    if (!value)
        return nullptr;
    return *value;
}

int inspectJob(const InspectArguments& args) {
    const auto job = Job::decode(Exporter::readJobFile(args.file));
    // A job whose LUT does not parse cannot be exported: that is this command's failure.
    const auto lut = Exporter::parseCube(job.grade().lutCube());
    printWarnings(lut.warnings);
    const auto& output = job.output();
    if (args.json) {
        OrderedJson json;
        json["version"] = job.version();
        if (output) {
            json["output"] = OrderedJson::object();
            json["output"]["fps"] = jsonField(output->fps());
            json["output"]["maxWidth"] = jsonField(output->maxWidth());
            json["output"]["targetBitrate"] = jsonField(output->targetBitrate());
            json["output"]["container"] = jsonField(output->container());
            json["output"]["audio"] = output->copyAudio() ? "copy" : "none";
            json["output"]["metadata"] = output->copyMetadata() ? "copy" : "none";
        } else {
            json["output"] = nullptr;
        }
        json["lutSize"] = lut.size;
        json["interpolation"] = nameOf(job.grade().options().interpolation);
        json["strength"] = job.grade().options().strength;
        printJson(json);
        return 0;
    }
    printText("Version: {}\n", job.version());
    if (output) {
        printText("Output:\n");
        printText("  fps:           {}\n", readableField(output->fps()));
        printText("  maxWidth:      {}\n", readableField(output->maxWidth()));
        printText("  targetBitrate: {}\n", readableField(output->targetBitrate()));
        printText("  container:     {}\n", readableField(output->container()));
        printText("  audio:         {}\n", output->copyAudio() ? "copy" : "none");
        printText("  metadata:      {}\n", output->copyMetadata() ? "copy" : "none");
    } else {
        printText("Output: absent\n");
    }
    printText("LUT size: {}\n", lut.size);
    printText("Interpolation: {}\nStrength: {}\n", nameOf(job.grade().options().interpolation),
              job.grade().options().strength);
    return 0;
}

void addInspectCommand(CLI::App& app, int& exitCode, const char* name, const char* description,
                       const char* fileHelp, int (*inspect)(const InspectArguments&)) {
    // Bound by reference into the option, kept alive by the callback that the command owns.
    auto args = std::make_shared<InspectArguments>();
    auto* command = app.add_subcommand(name, description);
    command->add_option("file", args->file, fileHelp)->required();
    command->add_flag("--json", args->json, "Print one line of JSON");
    command->callback([&exitCode, args, inspect] { exitCode = inspect(*args); });
}

} // namespace

void printWarnings(const std::vector<std::string>& warnings) {
    for (const auto& warning : warnings)
        printText(stderr, "vantrel-cli: warning: {}\n", warning);
}

void addLutCommand(CLI::App& app, int& exitCode) {
    addInspectCommand(app, exitCode, "lut", "Print the size and value range of a .cube LUT",
                      ".cube file", inspectLut);
}

void addJobCommand(CLI::App& app, int& exitCode) {
    addInspectCommand(app, exitCode, "job", "Print what a job file says and its LUT's size",
                      "Job file (JSON)", inspectJob);
}

} // namespace vantrel::cli
