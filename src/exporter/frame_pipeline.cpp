#include "exporter/frame_pipeline.hpp"

namespace vantrel {

namespace {

void end(FramePipelineContext& c, PipelineOutcome outcome) {
    c.outcome = std::move(outcome);
    c.drainSemaphore.release();
}

void fail(FramePipelineContext& c, const std::optional<Error>& cause) {
    end(c, PipelineFailed{cause});
}

bool writerStopped(const media::AssetWriter& writer) {
    switch (writer.status()) {
    case media::WriterStatus::failed:
    case media::WriterStatus::cancelled:
        return true;
    case media::WriterStatus::unknown:
    case media::WriterStatus::writing:
    case media::WriterStatus::completed:
        return false;
    }
    return false;
}

// Grades one decoded picture into a pool buffer and appends it. False when the
// append was refused; a frame that cannot be made is dropped and counts as done.
bool appendFrame(FramePipelineContext& c, const media::DecodedPicture& picture) {
    auto fitted = c.fitter.fit(picture);
    c.filter.setInputImage(imaging::Image::fromPicture(fitted));
    auto graded = c.filter.outputImage();
    if (!graded)
        return true;
    auto* pool = c.adaptor.pixelBufferPool();
    if (!pool)
        return true;
    auto buffer = pool->createPixelBuffer();
    if (!buffer)
        return true;
    c.renderingContext.render(
        *graded, buffer->view(),
        imaging::Rect{0, 0, static_cast<int>(c.width), static_cast<int>(c.height)}, c.colourSpace);
    media::MediaTime time{c.frameCounter * c.frameStep, c.timescale};
    if (!c.adaptor.appendPixelBuffer(std::move(*buffer), time))
        return false;
    ++c.frameCounter;
    if (c.progress && *c.progress)
        (*c.progress)(c.frameCounter, c.framesExpected);
    return true;
}

void pull(FramePipelineContext& c) {
    // A writer that failed (or was cancelled) while we waited for room calls us
    // once more; without this check the run would wait forever.
    if (writerStopped(c.writer)) {
        fail(c, c.writer.error());
        return;
    }
    if (!c.writerInput.isReadyForMoreMediaData())
        return;
    for (;;) {
        if (c.cancellation && c.cancellation->load()) {
            end(c, PipelineCancelled{});
            return;
        }
        if (c.reader.status() != media::ReaderStatus::reading)
            break;
        auto picture = c.trackOutput.nextPicture();
        if (!picture)
            break;
        if (!appendFrame(c, *picture)) {
            // The writer's own error, when it has one, says why.
            fail(c, c.writer.error());
            return;
        }
        if (!c.writerInput.isReadyForMoreMediaData())
            return;
    }
    c.writerInput.markAsFinished();
    end(c, PipelineDrained{});
}

} // namespace

void runFramePipeline(FramePipelineContext& c) {
    if (!std::holds_alternative<std::monostate>(c.outcome))
        return;
    try {
        pull(c);
    } catch (const Error& error) {
        fail(c, error);
    } catch (const std::exception& error) {
        end(c, PipelineFailed{Error(ImagingCode::unsupportedPicture, error.what())});
    }
}

} // namespace vantrel
