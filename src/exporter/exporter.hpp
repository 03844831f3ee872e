#pragma once
// The export engine: one call turns one input video into one graded 10-bit HEVC
// file. Exporter is a stateless namespace of static operations; every export
// builds its own decoder, grade, encoder and muxer, so exports may run
// concurrently in one process.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.hpp"
#include "core/picture.hpp"
#include "exporter/cube_lut.hpp"
#include "exporter/encoding_rules.hpp"
#include "exporter/export_error.hpp"
#include "exporter/job.hpp"

namespace vantrel {

struct ExportResult {
    std::filesystem::path outputPath; // as passed to the run
    double fps = 0;                   // the chosen frame rate
    std::int64_t width = 0;           // encoded frame width
    std::int64_t height = 0;          // encoded frame height
    // What the run read but could not apply as the files may have meant (see
    // CubeLUT::warnings and resolveLutText); the export went ahead regardless.
    std::vector<std::string> warnings;
};

// Frames handed to the encoder so far and the expected total (duration × rate,
// rounded; 0 when unknown). Called on the thread that called exportVideo after
// each frame is handed over: keep it quick.
using ProgressObserver = std::function<void(std::int64_t framesDone, std::int64_t framesExpected)>;

// Set to true from any thread to stop a run; the run then throws ExportCancelled
// and leaves no output file. Honoured until the finished file is renamed into
// place: a cancelled run never replaces an earlier output.
using CancellationToken = std::atomic<bool>;

// Seams through which a test makes a run fail or stop at a chosen moment; a
// run without hooks calls nothing. They are called from the run's threads, as
// said, while the run waits for them.
class ExportHooks {
public:
    virtual ~ExportHooks() = default;
    // On the encoder thread, before frame `index` (from 0) goes to the encoder.
    // An Error thrown here is the encoder's failure.
    virtual void beforeEncoding(std::int64_t index) { (void)index; }
    // On the calling thread, once frame `index` is graded, before it is handed
    // over; the picture is valid during the call.
    virtual void afterGrading(std::int64_t index, const PictureView& picture) {
        (void)index, (void)picture;
    }
    // On the calling thread, once the file is finished, just before it is
    // renamed into place.
    virtual void beforeRename() {}
};

struct ExportOptions {
    std::string preset = "medium"; // x265 preset
    const CancellationToken* cancellation = nullptr;
    ProgressObserver progress;
    ExportHooks* hooks = nullptr;
};

// The LUT text an export uses, and why it is not the one asked for when it is not.
struct LutText {
    std::string text;
    std::vector<std::string> warnings;
};

// What one export reads and writes. The output is replaced only by a finished file.
struct ExportRequest {
    std::filesystem::path jobPath;
    std::optional<std::filesystem::path> lutOverridePath = std::nullopt; // replaces the job's LUT
    std::filesystem::path inputPath;
    std::filesystem::path outputPath;
    std::optional<std::int64_t> bitrateOverrideBps = std::nullopt;
    // Replace the job's grade.interpolation and grade.strength (0 to 1).
    std::optional<Interpolation> interpolationOverride = std::nullopt;
    std::optional<double> strengthOverride = std::nullopt;
    // For a caller that runs many exports from one job: the job file's bytes and
    // the LUT text (resolveLutText) as read once, so that a file edited meanwhile
    // cannot give the runs different looks. jobPath and lutOverridePath then only
    // name the files (for the refusals); null means read them.
    std::shared_ptr<const std::string> jobBytes = nullptr;
    std::shared_ptr<const LutText> lutText = nullptr;
    // Copy every audio track, packets unchanged, kept in sync with the picture;
    // and the container's date, place, camera keys and start timecode. Nothing
    // means as the job's output.audio / output.metadata say (default: neither).
    std::optional<bool> copyAudio = std::nullopt;
    std::optional<bool> copyMetadata = std::nullopt;
};

// Everything an export would do, decided without writing anything.
struct ExportPlan {
    double fps = 0;
    Timebase timebase;
    OutputSize size;        // by the output size rule
    OutputSize encodedSize; // what the encoder codes
    std::int64_t targetBitrate = 0;
    media::FileType fileType = media::FileType::mov;
    std::int64_t lutSize = 0;
    GradeOptions grade; // the job's, with the request's overrides
    media::EncoderSettings encoderSettings;
    // What goes into the grade: the LUT sees these values as decoded; the output is BT.709 full
    // range whatever they are.
    ColourDescription sourceColour;
    // What the output takes over from the source: empty unless asked for.
    std::vector<media::AudioStream> copiedAudio;
    std::vector<media::Tag> copiedTags;
    std::string copiedTimecode;
    std::vector<std::string> warnings; // as ExportResult's
};

class Exporter {
public:
    Exporter() = delete;

    // The run. Blocks until the file is finished; throws ExportCancelled when
    // stopped through options.cancellation, Error on failure.
    // (Named exportVideo because `export` is a C++ keyword.)
    static ExportResult exportVideo(const ExportRequest& request,
                                    const ExportOptions& options = {});

    // The decisions of a run up to writing, for `vantrel-cli plan`. Reads the job, the
    // LUT and the input; writes nothing.
    static ExportPlan plan(const ExportRequest& request);

    // A job file's bytes, read no further than one byte past maxJobFileBytes
    // (Job::decode refuses a longer one), and a LUT file's bytes, refused above
    // maxLutFileBytes with FileError EFBIG and when not UTF-8 with FileError
    // EILSEQ. Throw FileError.
    static std::string readJobFile(const std::filesystem::path& path);
    static std::string readLutFile(const std::filesystem::path& path);

    // Unlinks the partial files of every export running in this process.
    // Async-signal-safe: for a signal handler that ends the process at once.
    static void removePartialFilesNow() noexcept;
    // Makes the process safe to export from, whatever started it: /dev/null opened
    // on each of descriptors 0-2 that is closed, so that no file an export opens
    // takes one of them and receives text meant for a terminal; SIGPIPE and SIGXFSZ
    // ignored, so a reader that went away or a file-size limit fails a write instead
    // of killing the process with its partial file left. For main(), first thing,
    // before any thread starts.
    static void prepareProcess() noexcept;

    static CubeLUT parseCube(std::string_view text) { return vantrel::parseCube(text); }

    static double chooseFps(const media::SourceQueries& source, std::optional<double> jobFps);
    static Timebase fpsToTimebase(double fps);
    // The encoder's settings for an output of width × height at `fps` (time base
    // from fpsToTimebase) and the target bitrate, when there is one.
    static media::EncoderSettings
    makeMain10WriterSettings(std::int64_t width, std::int64_t height, double fps,
                             std::optional<std::int64_t> targetBitrate);

    // The override LUT text when it can be read as UTF-8 (within maxLutFileBytes),
    // else the job's with a warning saying why.
    static LutText resolveLutText(const std::optional<std::filesystem::path>& lutOverridePath,
                                  const Job& job);
    static media::FileType chooseFileType(const std::filesystem::path& outputPath, const Job& job);

    // Megabits per second as typed ("12,5") to bits per second; nothing for no override.
    static std::optional<std::int64_t> parseBitrateOverride(std::string_view text);
    // "<input base>_vantrel_10bit.<mov|mp4>", "vantrel" as base without an input.
    static std::string defaultOutputName(const std::optional<std::filesystem::path>& inputPath);
};

} // namespace vantrel
