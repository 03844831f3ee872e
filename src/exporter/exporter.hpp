#pragma once
// The export engine: one call turns one input video into one graded 10-bit HEVC
// file. Exporter is a stateless namespace of static operations; every export
// builds its own reader, writer, filter, rendering context, queue and semaphores.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.hpp"
#include "exporter/cube_lut.hpp"
#include "exporter/encoding_rules.hpp"
#include "exporter/export_error.hpp"
#include "exporter/job.hpp"

namespace vantrel {

struct ExportResult {
    std::filesystem::path outputURL; // as passed to the run
    double fps = 0;                  // the chosen frame rate
    std::int64_t width = 0;          // encoded frame width
    std::int64_t height = 0;         // encoded frame height
    // What the run read but could not apply as the files may have meant (see
    // CubeLUT::warnings and resolveLutText); the export went ahead regardless.
    std::vector<std::string> warnings;
};

// Frames appended so far and the expected total (duration × rate; 0 when unknown).
// Called on the export's queue after each appended frame: keep it quick.
using ProgressObserver = std::function<void(std::int64_t framesDone, std::int64_t framesExpected)>;

// Set to true from any thread to stop a run; the run then throws ExportCancelled
// and leaves no output file. Honoured until the finished file is renamed into
// place: a cancelled run never replaces an earlier output.
using CancellationToken = std::atomic<bool>;

struct ExportOptions {
    std::string preset = "medium"; // x265 preset
    const CancellationToken* cancellation = nullptr;
    ProgressObserver progress;
};

// Everything an export would do, decided without writing anything.
struct ExportPlan {
    double fps = 0;
    Timebase timebase;
    OutputSize size;        // by the output size rule
    OutputSize encodedSize; // what the encoder codes
    std::int64_t targetBitrate = 0;
    media::FileType fileType = media::FileType::quickTimeMovie;
    std::int64_t lutSize = 0;
    media::VideoSettings writerSettings;
    // What goes into the grade: the LUT sees these values as decoded (see
    // imaging/colour_cube.hpp); the output is BT.709 full range whatever they are.
    media::SourceColour sourceColour;
    std::vector<std::string> warnings; // as ExportResult's
};

// The LUT text an export uses, and why it is not the one asked for when it is not.
struct LutText {
    std::string text;
    std::vector<std::string> warnings;
};

class Exporter {
public:
    Exporter() = delete;

    // The run. Blocks until the file is finished; throws Error on failure.
    // (Named exportVideo because `export` is a C++ keyword.)
    static ExportResult exportVideo(const std::filesystem::path& jobURL,
                                    const std::optional<std::filesystem::path>& lutOverrideURL,
                                    const std::filesystem::path& inputURL,
                                    const std::filesystem::path& outputURL,
                                    std::optional<std::int64_t> bitrateOverrideBps,
                                    const ExportOptions& options = {});

    // The decisions of a run up to writing, for `vantrel-cli plan`. Reads the job, the
    // LUT and the input; writes nothing.
    static ExportPlan plan(const std::filesystem::path& jobURL,
                           const std::optional<std::filesystem::path>& lutOverrideURL,
                           const std::filesystem::path& inputURL,
                           const std::filesystem::path& outputURL,
                           std::optional<std::int64_t> bitrateOverrideBps);

    static CubeLUT parseCube(std::string_view text) { return vantrel::parseCube(text); }

    static double chooseFps(const media::AssetQueries& asset, std::optional<double> jobFps);
    static Timebase fpsToTimebase(double fps);
    static media::VideoSettings makeMain10WriterSettings(std::int64_t width, std::int64_t height,
                                                         double fps,
                                                         std::optional<std::int64_t> targetBitrate);

    // The override LUT text when it can be read as UTF-8 (within maxLutFileBytes),
    // else the job's with a warning saying why.
    static LutText resolveLutText(const std::optional<std::filesystem::path>& lutOverrideURL,
                                  const Job& job);
    static media::FileType chooseFileType(const std::filesystem::path& outputURL, const Job& job);

    // Megabits per second as typed ("12,5") to bits per second; nothing for no override.
    static std::optional<std::int64_t> parseBitrateOverride(std::string_view text);
    // "<input base>_vantrel_10bit.<mov|mp4>", "vantrel" as base without an input.
    static std::string defaultOutputName(const std::optional<std::filesystem::path>& inputURL);
};

} // namespace vantrel
