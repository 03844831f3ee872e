#include <algorithm>
#include <cmath>
#include <filesystem>

#include <fmt/format.h>

#include "exporter/containers.hpp"
#include "exporter/exporter.hpp"
#include "exporter/frame_pipeline.hpp"
#include "exporter/text_scan.hpp"
#include "imaging/colour_cube.hpp"
#include "media/asset.hpp"
#include "media/dispatch.hpp"
#include "media/error.hpp"
#include "media/files.hpp"
#include "media/partial_files.hpp"
#include "media/picture_fitter.hpp"
#include "media/reader.hpp"
#include "media/writer.hpp"

namespace vantrel {

namespace {

constexpr int inputEndedEarly = static_cast<int>(ExportCode::inputEndedEarly);
constexpr int lutTooLarge = static_cast<int>(ExportCode::lutTooLarge);

// Everything the run settles before it touches the output location.
struct Preparation {
    Job job;
    CubeLUT lut;
    std::unique_ptr<media::Asset> asset;
    media::VideoTrack track;
    double fps;
    Timebase timebase;
    OutputSize size;
    OutputSize encoded;
    std::int64_t bitrate;
    media::FileType fileType;
    media::VideoSettings settings;
    std::vector<std::string> warnings;
};

Preparation prepare(const ExportRequest& request) {
    const auto& inputURL = request.inputPath;
    auto job = Job::decode(Exporter::readJobFile(request.jobPath));
    auto lutText = Exporter::resolveLutText(request.lutOverridePath, job);
    auto lut = Exporter::parseCube(lutText.text);
    auto warnings = std::move(lutText.warnings);
    warnings.insert(warnings.end(), lut.warnings().begin(), lut.warnings().end());
    auto asset = std::make_unique<media::Asset>(inputURL);

    const auto& output = job.output();
    auto fps = Exporter::chooseFps(*asset, output ? output->fps() : std::nullopt);
    auto timebase = Exporter::fpsToTimebase(fps);
    auto sourceAverage = sourceAverageBitrate(media::fileSize(inputURL), asset->durationSeconds());

    auto tracks = asset->videoTracks();
    if (tracks.empty())
        throw ExportError(1);
    auto track = tracks.front();
    // A track whose picture size even probing could not learn has nothing to
    // decode into; left alone, the size rules would ask the encoder for 2×2.
    if (!(track.naturalSize.width >= 1 && track.naturalSize.height >= 1))
        throw ExportError(2, fmt::format("the video track's picture size is unknown ({}x{})",
                                         track.naturalSize.width, track.naturalSize.height));

    auto size = outputSize(orientedSize(track), output ? output->maxWidth() : std::nullopt);
    auto bitrate =
        targetBitrate(request.bitrateOverrideBps, output ? output->targetBitrate() : std::nullopt,
                      sourceAverage, size, fps);
    // HEVC 4:2:0 codes even sides only, so the encoder gets each odd side one smaller.
    auto encoded = encodedSize(size);
    auto fileType = Exporter::chooseFileType(request.outputPath, job);
    auto settings = Exporter::makeMain10WriterSettings(encoded.width, encoded.height, fps, bitrate);
    return Preparation{std::move(job),
                       std::move(lut),
                       std::move(asset),
                       track,
                       fps,
                       timebase,
                       size,
                       encoded,
                       bitrate,
                       fileType,
                       std::move(settings),
                       std::move(warnings)};
}

// Everything that would cost the user a file, refused before anything is read: an
// output that names one of the run's own inputs (by any spelling or link), or that
// cannot safely be replaced by renaming a new file over it.
void refuseUnsafeOutput(const ExportRequest& request) {
    const auto& outputURL = request.outputPath;
    if (media::sameFile(request.inputPath, outputURL))
        throw ExportError(8, "it is the input video");
    if (media::sameFile(request.jobPath, outputURL))
        throw ExportError(8, "it is the job file");
    if (request.lutOverridePath && media::sameFile(*request.lutOverridePath, outputURL))
        throw ExportError(8, "it is the LUT file");
    media::requireReplaceableOutput(outputURL);
}

// Runs the frame pipeline on the export's queue until it ends, then finishes the
// writer; throws for every end but a drained source and a finished file.
void runPipeline(FramePipelineContext& context) {
    media::AssetReader& reader = context.reader;
    media::AssetWriter& writer = context.writer;
    // The queue is declared after the context and goes first; before it goes, the
    // writer is stopped so that nothing schedules onto it any more.
    media::SerialQueue queue("export.queue");
    struct StopWriter {
        media::AssetWriter& writer;
        ~StopWriter() {
            if (writer.status() != media::WriterStatus::completed)
                writer.cancelWriting();
        }
    } stopWriter{writer};

    // The writer watches the token itself, so a stop lands even while the pipeline
    // waits for room or the encoder flushes, and up to the rename.
    const CancellationToken* token = context.cancellation;
    if (token)
        writer.stopWhen(*token);
    auto cancelled = [token] { return token && token->load(); };

    context.writerInput.requestMediaDataWhenReady(queue, [&context] { runFramePipeline(context); });
    context.drainSemaphore.acquire();

    if (!std::holds_alternative<PipelineDrained>(context.outcome)) {
        reader.cancelReading();
        writer.cancelWriting();
        // A writer stopped by the token ends the pipeline as a failure of its own.
        if (std::holds_alternative<PipelineCancelled>(context.outcome) || cancelled())
            throw ExportCancelled();
        const auto* failed = std::get_if<PipelineFailed>(&context.outcome);
        throw ExportError(6, failed ? failed->cause : std::string());
    }

    // A reader that failed part-way would otherwise hand over a file that just
    // stops early, as if the input were shorter than it is.
    if (reader.status() == media::ReaderStatus::failed) {
        writer.cancelWriting();
        const auto& error = reader.error();
        if (error && error->is(MediaCode::endedEarly))
            throw ExportError(inputEndedEarly, error->detail());
        if (error)
            throw ExportError(ExportCode::inputUnreadable, {}, *error);
        throw ExportError(ExportCode::inputUnreadable);
    }

    context.writerInput.markAsFinished();
    media::Semaphore finished(0);
    writer.finishWriting([&finished] { finished.release(); });
    finished.acquire();
    if (writer.status() == media::WriterStatus::cancelled)
        throw ExportCancelled();
}

std::int64_t expectedFrames(double durationSeconds, double fps) {
    double frames = durationSeconds * fps;
    if (!std::isfinite(frames) || frames < 1)
        return 0;
    return roundHalfAwayLimited(frames);
}

} // namespace

LutText Exporter::resolveLutText(const std::optional<std::filesystem::path>& lutOverrideURL,
                                 const Job& job) {
    if (!lutOverrideURL)
        return {job.grade().lutCube(), {}};
    // An override that cannot be used falls back to the job's own LUT, but never
    // silently: the grade would not be the one the user chose.
    std::string why;
    try {
        auto text = media::readWholeFile(*lutOverrideURL, maxLutFileBytes);
        if (text.size() > maxLutFileBytes)
            why = fmt::format("is larger than {} MiB", maxLutFileBytes >> 20);
        else if (!text::isValidUtf8(text))
            why = "is not UTF-8 text";
        else
            return {std::move(text), {}};
    } catch (const Error& error) {
        why = fmt::format("cannot be read ({})", error.detail());
    }
    return {job.grade().lutCube(),
            {fmt::format("The LUT file \"{}\" {}; the job's own LUT is used instead.",
                         lutOverrideURL->string(), why)}};
}

media::FileType Exporter::chooseFileType(const std::filesystem::path& outputURL, const Job& job) {
    if (namesMpeg4(extensionOf(outputURL)))
        return media::FileType::mpeg4;
    const auto& output = job.output();
    if (output && output->container() && namesMpeg4(*output->container()))
        return media::FileType::mpeg4;
    return media::FileType::quickTimeMovie;
}

std::string Exporter::readJobFile(const std::filesystem::path& path) {
    // Job::decode refuses what is over the limit in its own terms.
    return media::readWholeFile(path, maxJobFileBytes);
}

std::string Exporter::readLutFile(const std::filesystem::path& path) {
    auto text = media::readWholeFile(path, maxLutFileBytes);
    if (text.size() > maxLutFileBytes)
        throw FileError(EFBIG, "read", path);
    return text;
}

void Exporter::removePartialFilesNow() noexcept {
    media::removePartialFilesNow();
}

ExportPlan Exporter::plan(const ExportRequest& request) {
    auto p = prepare(request);
    return ExportPlan{.fps = p.fps,
                      .timebase = p.timebase,
                      .size = p.size,
                      .encodedSize = p.encoded,
                      .targetBitrate = p.bitrate,
                      .fileType = p.fileType,
                      .lutSize = p.lut.size(),
                      .writerSettings = std::move(p.settings),
                      .sourceColour = p.track.colour,
                      .warnings = std::move(p.warnings)};
}

ExportResult Exporter::exportVideo(const ExportRequest& request, const ExportOptions& options) {
    const auto& outputURL = request.outputPath;
    // An existing output is replaced only when the new file is complete (the writer
    // renames it into place), so a failed run leaves the old file as it was. What
    // cannot be replaced that way is refused now rather than after encoding.
    refuseUnsafeOutput(request);
    auto p = prepare(request);

    auto colourSpace = imaging::colourSpaceNamed("sRGB").value_or(imaging::ColourSpace::deviceRGB);
    imaging::RenderContext renderingContext(colourSpace, colourSpace, false);

    auto filter = imaging::Filter::named(imaging::Filter::colourCubeWithColourSpace);
    if (!filter)
        filter = imaging::Filter::named(imaging::Filter::colourCube);
    if (!filter)
        throw ExportError(9);
    // The filter grades nothing with a cube it cannot hold; every frame would be
    // dropped and the run would "succeed" with an empty file.
    if (p.lut.size() > imaging::Cube::maxSize)
        throw ExportError(lutTooLarge,
                          fmt::format("a {0}-point LUT is larger than the {1}-point cube the "
                                      "filter holds",
                                      p.lut.size(), imaging::Cube::maxSize));
    filter->setCubeDimension(p.lut.size());
    filter->setCubeData(p.lut.data());
    if (filter->name() == imaging::Filter::colourCubeWithColourSpace)
        filter->setColourSpace(colourSpace);

    media::AssetReader reader(*p.asset);
    if (!reader.canAddOutput(p.track))
        throw ExportError(2);
    media::AssetReaderTrackOutput& trackOutput = reader.addOutput(p.track);

    media::AssetWriter writer(outputURL, p.fileType);
    media::AssetWriterInput writerInput(
        p.settings, media::EncoderOptions{options.preset, p.timebase.timescale, p.timebase.step});
    media::AssetWriterInputPixelBufferAdaptor adaptor(
        writerInput, static_cast<int>(p.encoded.width), static_cast<int>(p.encoded.height));
    if (!writer.canAddInput(writerInput))
        throw ExportError(3);
    writer.addInput(writerInput);

    if (!writer.startWriting())
        throw writer.error() ? ExportError(ExportCode::outputNotStarted, {}, *writer.error())
                             : ExportError(ExportCode::outputNotStarted);
    writer.startSession(media::MediaTime{0, p.timebase.timescale});
    if (!reader.startReading()) {
        writer.cancelWriting();
        throw reader.error() ? ExportError(ExportCode::inputUnreadable, {}, *reader.error())
                             : ExportError(ExportCode::inputUnreadable);
    }

    media::PictureFitter fitter(static_cast<int>(p.encoded.width),
                                static_cast<int>(p.encoded.height),
                                media::orientationOf(p.track.preferredTransform));
    media::Semaphore drain(0);
    FramePipelineContext context{
        .writerInput = writerInput,
        .reader = reader,
        .drainSemaphore = drain,
        .trackOutput = trackOutput,
        .filter = *filter,
        .adaptor = adaptor,
        .renderingContext = renderingContext,
        .width = p.encoded.width,
        .height = p.encoded.height,
        .colourSpace = colourSpace,
        .frameStep = p.timebase.step,
        .timescale = p.timebase.timescale,
        .writer = writer,
        .fitter = fitter,
        .cancellation = options.cancellation,
        .progress = &options.progress,
        .framesExpected = expectedFrames(p.asset->durationSeconds(), p.fps),
    };
    runPipeline(context);

    if (writer.status() == media::WriterStatus::completed)
        return ExportResult{outputURL, p.fps, p.encoded.width, p.encoded.height,
                            std::move(p.warnings)};
    if (auto error = writer.error())
        throw *error;
    throw ExportError(7);
}

} // namespace vantrel
