// `vantrel-cli lut` and `vantrel-cli job`: what a LUT or a job file holds.

#include <charconv>
#include <cmath>
#include <iostream>
#include <optional>

#include <fmt/format.h>
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
        printJson(json);
        return 0;
    }
    printWarnings(lut.warnings);
    printText("LUT size: {}\nEntries:  {}\n", lut.size, entries);
    const char* names[3] = {"Red:  ", "Green:", "Blue: "};
    for (int channel = 0; channel < 3; ++channel)
        printText("{}    {} to {}\n", names[channel], readable(ranges[channel].min),
                  readable(ranges[channel].max));
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
        } else {
            json["output"] = nullptr;
        }
        json["lutSize"] = lut.size;
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
    } else {
        printText("Output: absent\n");
    }
    printText("LUT size: {}\n", lut.size);
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
