#include "exporter/frame_pipeline.hpp"

#include <exception>
#include <pthread.h>
#include <thread>

#include <fmt/format.h>

#include "exporter/hand_off.hpp"
#include "imaging/fitter.hpp"
#include "imaging/grade.hpp"
#include "media/decoder.hpp"
#include "media/encoder.hpp"
#include "media/muxer.hpp"

namespace vantrel {

namespace {

// Two frames in flight: the encoder works on one while the next waits, and the
// producer grades a third. Every waiting frame pins a pool frame (25 MB at 2160p).
constexpr std::size_t handOffCapacity = 2;

struct StampedFrame {
    media::Frame picture;
    std::int64_t index;
};

// Throws ExportCancelled when the token is set.
void checkCancellation(const CancellationToken* token) {
    if (token && token->load())
        throw ExportCancelled();
}

// The encoder thread's whole life: encode what arrives, then flush and finish.
// Every failure is left in the hand-off for the producer to see.
void encodeAll(const PipelineStages& stages, const ExportOptions& options,
               HandOff<StampedFrame>& handOff, std::exception_ptr& finishFailure) {
    pthread_setname_np(pthread_self(), "vantrel.encoder");
    try {
        while (auto frame = handOff.pop()) {
            if (options.hooks)
                options.hooks->beforeEncoding(frame->index);
            stages.encoder.encode(frame->picture, frame->index * stages.frameStep, stages.muxer);
        }
    } catch (const ExportCancelled&) {
        handOff.fail(std::current_exception());
        return;
    } catch (const Error& error) {
        handOff.fail(std::make_exception_ptr(ExportError(ExportCode::encodingStopped, {}, error)));
        return;
    } catch (...) {
        handOff.fail(std::current_exception());
        return;
    }
    // The producer has closed the hand-off and waits in join(): what fails from
    // here on is reported through finishFailure.
    try {
        stages.encoder.flush(stages.muxer, [&] { checkCancellation(options.cancellation); });
        stages.muxer.finish();
    } catch (const ExportCancelled&) {
        finishFailure = std::current_exception();
    } catch (const Error& error) {
        finishFailure =
            std::make_exception_ptr(ExportError(ExportCode::outputNotFinished, {}, error));
    } catch (...) {
        finishFailure = std::current_exception();
    }
}

// Decodes, fits and grades every picture into a pool frame and hands it over.
std::int64_t produce(const PipelineStages& stages, const ExportOptions& options,
                     std::int64_t framesExpected, HandOff<StampedFrame>& handOff) {
    media::FramePool pool(stages.width, stages.height);
    std::int64_t count = 0;
    for (;;) {
        std::optional<media::Frame> picture;
        try {
            picture = stages.decoder.next();
        } catch (const Error& error) {
            if (error.is(MediaCode::endedEarly))
                throw ExportError(ExportCode::inputEndedEarly, error.detail());
            throw ExportError(ExportCode::inputUnreadable, {}, error);
        }
        if (!picture)
            return count;
        auto frame = pool.acquire();
        if (!frame)
            throw ExportError(ExportCode::encodingStopped, "out of memory for a graded frame");
        try {
            stages.grade.render(stages.fitter.fit(*picture), frame->view());
        } catch (const Error& error) {
            throw ExportError(ExportCode::encodingStopped, {}, error);
        }
        if (options.hooks)
            options.hooks->afterGrading(count, frame->view());
        handOff.push({std::move(*frame), count});
        ++count;
        if (options.progress)
            options.progress(count, framesExpected);
    }
}

} // namespace

std::int64_t runFramePipeline(const PipelineStages& stages, const ExportOptions& options,
                              std::int64_t framesExpected) {
    HandOff<StampedFrame> handOff(handOffCapacity, options.cancellation);
    std::exception_ptr finishFailure;
    std::thread encoderThread([&] { encodeAll(stages, options, handOff, finishFailure); });
    std::int64_t frames = 0;
    try {
        frames = produce(stages, options, framesExpected, handOff);
        handOff.close();
    } catch (...) {
        // Whatever stopped the producer stops the encoder thread too; its own
        // failure, when it came first, is what the producer rethrows.
        handOff.fail(std::current_exception());
        encoderThread.join();
        throw;
    }
    encoderThread.join();
    if (finishFailure)
        std::rethrow_exception(finishFailure);
    return frames;
}

} // namespace vantrel
