#pragma once
// The frame pipeline: moves the pictures of one export from the reader to the
// writer. The run registers runFramePipeline() with the writer input on its serial
// queue; every call pulls, grades, renders and appends frames for as long as the
// input takes more, and wakes the run (drain semaphore) once, when the source has
// run out or the frames can no longer be delivered.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "exporter/exporter.hpp"
#include "imaging/colour_cube.hpp"
#include "media/dispatch.hpp"
#include "media/picture_fitter.hpp"
#include "media/reader.hpp"
#include "media/writer.hpp"

namespace vantrel {

// How a pipeline ended. Still running: std::monostate.
struct PipelineDrained {};   // the source ran out; every picture was appended
struct PipelineCancelled {}; // the cancellation token was set
struct PipelineFailed {
    // Why: the writer's or the grading's own error; none when the writer refused a
    // frame without saying why.
    std::optional<Error> cause;
};
using PipelineOutcome =
    std::variant<std::monostate, PipelineDrained, PipelineCancelled, PipelineFailed>;

// What the run shares with the pipeline. Created by the run after the reader has
// started and kept alive until the run returns. The pipeline runs only on the
// run's serial queue; the run reads frameCounter and outcome only after the drain
// semaphore was signalled, which orders the pipeline's writes before the run's
// reads.
struct FramePipelineContext {
    media::AssetWriterInput& writerInput;
    media::AssetReader& reader;
    media::Semaphore& drainSemaphore;
    media::AssetReaderTrackOutput& trackOutput;
    imaging::Filter& filter;
    media::AssetWriterInputPixelBufferAdaptor& adaptor;
    const imaging::RenderContext& renderingContext;
    std::int64_t width;
    std::int64_t height;
    // Passed to render() as the run's steps do; see colour_cube.hpp for what it changes.
    imaging::ColourSpace colourSpace;
    std::int64_t frameStep;
    std::int32_t timescale;

    // Ours beyond the run's objects: the writer (to notice it failing while its
    // input was not ready), the geometry step, cancellation and progress.
    media::AssetWriter& writer;
    media::PictureFitter& fitter;
    const CancellationToken* cancellation = nullptr;
    const ProgressObserver* progress = nullptr;
    std::int64_t framesExpected = 0;

    // Shared cells.
    std::int64_t frameCounter = 0;
    // Set once, when the run is woken; later calls return at once.
    PipelineOutcome outcome{};
};

// One call of the pipeline; see the header comment. Never throws.
void runFramePipeline(FramePipelineContext& context);

} // namespace vantrel
