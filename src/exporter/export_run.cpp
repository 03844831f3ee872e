// One export: prepare (shared with plan), open, run, finish.

#include <cmath>
#include <filesystem>
#include <memory>

#include <fmt/format.h>

#include "exporter/exporter.hpp"
#include "exporter/frame_pipeline.hpp"
#include "exporter/grading_setup.hpp"
#include "imaging/fitter.hpp"
#include "imaging/grade.hpp"
#include "media/decoder.hpp"
#include "media/encoder.hpp"
#include "media/files.hpp"
#include "media/muxer.hpp"
#include "media/orientation.hpp"
#include "media/source.hpp"

namespace vantrel {

namespace {

// Everything the run settles before it touches the output location.
struct Preparation {
    Job job;
    CubeLUT lut;
    GradeOptions gradeOptions;
    media::VideoStream stream;
    double fps;
    Timebase timebase;
    OutputSize size;
    OutputSize encoded;
    std::int64_t bitrate;
    media::FileType fileType;
    media::EncoderSettings settings;
    std::int64_t framesExpected;
    double durationSeconds;
    // What is copied from the source (empty when not asked for).
    std::vector<media::AudioStream> audio;
    bool copyMetadata;
    std::vector<media::Tag> tags;
    std::string timecode;
    std::vector<std::string> warnings;
};

std::string_view containerName(media::FileType type) {
    return type == media::FileType::mp4 ? "an MPEG-4 file" : "a QuickTime movie";
}

// Sound is copied only where it can go unchanged and stay in step with the
// picture: both refused before anything is written.
void requireCopyableAudio(const std::vector<media::AudioStream>& audio, media::FileType type,
                          const media::VideoStream& stream, double durationSeconds, double fps) {
    for (const auto& track : audio)
        if (!media::Muxer::holds(type, track.codec))
            throw ExportError(
                ExportCode::trackNotCopyable,
                fmt::format("{} sound (track {}) cannot go into {}; a .mov output holds it",
                            track.codec, track.index, containerName(type)));
    if (!audio.empty() && retimesPicture(durationSeconds, stream.frameRate, fps))
        throw ExportError(
            ExportCode::soundWouldDrift,
            fmt::format(
                "the source runs at {:.3f} fps and the output at {:.3f} fps, so over {:.1f} "
                "s the picture would end {:.2f} s away from its sound; set the job's "
                "output.fps to the source's rate or leave the sound out",
                stream.frameRate, fps, durationSeconds,
                durationSeconds * std::abs(stream.frameRate - fps) / fps));
}

Preparation prepare(const ExportRequest& request) {
    auto job =
        Job::decode(request.jobBytes ? *request.jobBytes : Exporter::readJobFile(request.jobPath));
    auto lutText =
        request.lutText ? *request.lutText : Exporter::resolveLutText(request.lutOverridePath, job);
    auto lut = Exporter::parseCube(lutText.text);
    auto warnings = std::move(lutText.warnings);
    warnings.insert(warnings.end(), lut.warnings.begin(), lut.warnings.end());
    auto gradeOptions = job.grade().options();
    if (request.interpolationOverride)
        gradeOptions.interpolation = *request.interpolationOverride;
    if (request.strengthOverride)
        gradeOptions.strength = *request.strengthOverride;
    imaging::Grade::checkOptions(gradeOptions);
    const media::Source source(request.inputPath);

    const auto& output = job.output();
    const auto fps = Exporter::chooseFps(source, output ? output->fps() : std::nullopt);
    const auto sourceAverage =
        sourceAverageBitrate(media::fileSize(request.inputPath), source.durationSeconds());

    const auto streams = source.videoStreams();
    if (streams.empty())
        throw ExportError(ExportCode::noVideoTrack);
    const auto& stream = streams.front();
    // A stream whose picture size even probing could not learn has nothing to
    // decode into; left alone, the size rules would ask the encoder for 2×2.
    if (!(stream.size.width >= 1 && stream.size.height >= 1))
        throw ExportError(ExportCode::undecodableTrack,
                          fmt::format("the video track's picture size is unknown ({}x{})",
                                      stream.size.width, stream.size.height));

    if (auto warning = sourceColourWarning(stream.colour))
        warnings.push_back(std::move(*warning));

    const auto size = outputSize(orientedSize(stream), output ? output->maxWidth() : std::nullopt);
    const auto bitrate =
        targetBitrate(request.bitrateOverrideBps, output ? output->targetBitrate() : std::nullopt,
                      sourceAverage, size, fps);
    // HEVC 4:2:0 codes even sides only, so the encoder gets each odd side one smaller.
    const auto encoded = encodedSize(size);
    const auto fileType = Exporter::chooseFileType(request.outputPath, job);
    const bool copyAudio = request.copyAudio.value_or(output && output->copyAudio());
    const bool copyMetadata = request.copyMetadata.value_or(output && output->copyMetadata());
    auto audio = copyAudio ? source.audioStreams() : std::vector<media::AudioStream>{};
    requireCopyableAudio(audio, fileType, stream, source.durationSeconds(), fps);
    return Preparation{
        .job = std::move(job),
        .lut = std::move(lut),
        .gradeOptions = gradeOptions,
        .stream = stream,
        .fps = fps,
        .timebase = Exporter::fpsToTimebase(fps),
        .size = size,
        .encoded = encoded,
        .bitrate = bitrate,
        .fileType = fileType,
        .settings = Exporter::makeMain10WriterSettings(encoded.width, encoded.height, fps, bitrate),
        .framesExpected = expectedFrameCount(source.durationSeconds(), fps),
        .durationSeconds = source.durationSeconds(),
        .audio = std::move(audio),
        .copyMetadata = copyMetadata,
        .tags = copyMetadata ? source.copiedTags() : std::vector<media::Tag>{},
        .timecode = copyMetadata ? source.timecode() : std::string(),
        .warnings = std::move(warnings)};
}

} // namespace

// Everything that would cost the user a file, refused before anything is read: an
// output that names one of the run's own inputs (by any spelling or link), or that
// cannot safely be replaced by renaming a new file over it.
void refuseUnsafeOutput(const ExportRequest& request) {
    const auto& output = request.outputPath;
    if (media::sameFile(request.inputPath, output))
        throw ExportError(ExportCode::outputIsInput, "it is the input video");
    if (media::sameFile(request.jobPath, output))
        throw ExportError(ExportCode::outputIsInput, "it is the job file");
    if (request.lutOverridePath && media::sameFile(*request.lutOverridePath, output))
        throw ExportError(ExportCode::outputIsInput, "it is the LUT file");
    media::requireReplaceableOutput(output);
}

namespace {

// The objects of one run, opened in the order a failure should be reported in.
struct OpenRun {
    std::unique_ptr<imaging::Grade> grade;
    std::unique_ptr<media::Encoder> encoder;
    std::unique_ptr<media::Muxer> muxer;
    std::unique_ptr<media::Decoder> decoder;
    std::unique_ptr<imaging::Fitter> fitter;
};

// A cube the grade cannot hold would grade nothing: refused before anything is
// written.
std::unique_ptr<imaging::Grade> makeGrade(const Preparation& p) {
    if (p.lut.size > imaging::Grade::maxSize)
        throw ExportError(ExportCode::lutTooLarge,
                          fmt::format("a {}-point LUT is larger than the {}-point cube the grade "
                                      "holds",
                                      p.lut.size, imaging::Grade::maxSize));
    return std::make_unique<imaging::Grade>(p.lut, p.gradeOptions);
}

std::unique_ptr<media::Decoder> openDecoder(const ExportRequest& request, const Preparation& p) {
    try {
        return std::make_unique<media::Decoder>(request.inputPath, p.stream.index);
    } catch (const Error& error) {
        throw ExportError(ExportCode::inputUnreadable, {}, error);
    }
}

std::unique_ptr<imaging::Fitter> makeFitter(const Preparation& p) {
    return std::make_unique<imaging::Fitter>(static_cast<int>(p.encoded.width),
                                             static_cast<int>(p.encoded.height),
                                             media::orientationOf(p.stream.displayMatrix));
}

OpenRun open(const ExportRequest& request, const Preparation& p, const ExportOptions& options) {
    OpenRun run;
    run.grade = makeGrade(p);
    if (!p.stream.decodable)
        throw ExportError(ExportCode::undecodableTrack);
    media::requireWritableFolder(request.outputPath);
    try {
        auto settings = p.settings;
        settings.preset = options.preset;
        run.encoder =
            std::make_unique<media::Encoder>(settings, media::Muxer::wantsGlobalHeader(p.fileType));
        media::CopySelection copy{request.inputPath, p.stream.index, {}, p.copyMetadata};
        for (const auto& track : p.audio)
            copy.audioStreams.push_back(track.index);
        run.muxer =
            std::make_unique<media::Muxer>(request.outputPath, p.fileType, *run.encoder, &copy);
    } catch (const Error& error) {
        throw ExportError(ExportCode::outputNotStarted, {}, error);
    }
    run.decoder = openDecoder(request, p);
    run.fitter = makeFitter(p);
    return run;
}

// The finished file replaces the output, unless the run was cancelled first:
// the last moment a cancellation can still keep an earlier output.
void finish(OpenRun& run, const ExportOptions& options) {
    if (options.hooks)
        options.hooks->beforeRename();
    if (options.cancellation && options.cancellation->load())
        throw ExportCancelled();
    run.muxer->commit();
}

} // namespace

GradingSetup prepareGrading(const ExportRequest& request) {
    auto p = prepare(request);
    auto grade = makeGrade(p);
    if (!p.stream.decodable)
        throw ExportError(ExportCode::undecodableTrack);
    return GradingSetup{.grade = std::move(grade),
                        .decoder = openDecoder(request, p),
                        .fitter = makeFitter(p),
                        .width = static_cast<int>(p.encoded.width),
                        .height = static_cast<int>(p.encoded.height),
                        .durationSeconds = p.durationSeconds,
                        .warnings = std::move(p.warnings)};
}

ExportPlan Exporter::plan(const ExportRequest& request) {
    auto p = prepare(request);
    return ExportPlan{.fps = p.fps,
                      .timebase = p.timebase,
                      .size = p.size,
                      .encodedSize = p.encoded,
                      .targetBitrate = p.bitrate,
                      .fileType = p.fileType,
                      .lutSize = p.lut.size,
                      .grade = p.gradeOptions,
                      .encoderSettings = std::move(p.settings),
                      .sourceColour = p.stream.colour,
                      .copiedAudio = std::move(p.audio),
                      .copiedTags = std::move(p.tags),
                      .copiedTimecode = std::move(p.timecode),
                      .warnings = std::move(p.warnings)};
}

ExportResult Exporter::exportVideo(const ExportRequest& request, const ExportOptions& options) {
    // An existing output is replaced only when the new file is complete (renamed
    // into place), so a failed run leaves the old file as it was. What cannot be
    // replaced that way is refused now rather than after encoding.
    refuseUnsafeOutput(request);
    auto p = prepare(request);
    auto run = open(request, p, options);
    runFramePipeline(PipelineStages{.decoder = *run.decoder,
                                    .fitter = *run.fitter,
                                    .grade = *run.grade,
                                    .encoder = *run.encoder,
                                    .muxer = *run.muxer,
                                    .width = static_cast<int>(p.encoded.width),
                                    .height = static_cast<int>(p.encoded.height),
                                    .frameStep = p.timebase.frameStep},
                     options, p.framesExpected);
    finish(run, options);
    return ExportResult{request.outputPath, p.fps, p.encoded.width, p.encoded.height,
                        std::move(p.warnings)};
}

} // namespace vantrel
