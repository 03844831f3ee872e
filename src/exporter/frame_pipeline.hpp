#pragma once
// The frame pipeline: moves the pictures of one export from the reader to the
// writer. The run registers runFramePipeline() with the writer input on its serial
// queue; every call pulls, grades, renders and appends frames for as long as the
// input takes more, and wakes the run (drain semaphore) once, when the source has
// run out or the frames can no longer be delivered.

#include <cstdint>
#include <optional>

#include "exporter/exporter.hpp"
#include "imaging/colour_cube.hpp"
#include "media/dispatch.hpp"
#include "media/picture_fitter.hpp"
#include "media/reader.hpp"
#include "media/writer.hpp"

namespace vantrel {

// What the run shares with the pipeline. Created by the run after the reader has
// started and kept alive until the run returns. The pipeline runs only on the
// run's serial queue; the run reads the shared cells (frameCounter, failureFlag,
// failure, stopped) only after the drain semaphore was signalled, which orders the
// pipeline's writes before the run's reads.
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
    bool failureFlag = false;
    // Why the pipeline failed when it was not a refused append: the writer's own
    // error, an error thrown while grading, or cancellation.
    std::optional<Error> failure;
    bool cancelled = false;
    // Set when the run has been woken; later calls return at once.
    bool stopped = false;
};

// One call of the pipeline; see the header comment. Never throws.
void runFramePipeline(FramePipelineContext& context);

} // namespace vantrel
