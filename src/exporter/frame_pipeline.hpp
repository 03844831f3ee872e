#pragma once
// The frames of one export, from the decoder to the muxer, on two threads:
//
// - The calling thread decodes, fits and grades one picture at a time into a
//   pool frame and hands it over, stamped n·frameStep (in 1/timescale seconds)
//   from a counter, so a variable-rate source comes out at the chosen constant
//   rate. It stops for good when the decoder runs out or a hand-off fails.
// - The encoder thread takes frames off the hand-off, encodes them and writes
//   the packets; once the hand-off is closed and empty it flushes the encoder
//   (checking the cancellation between packets) and finishes the file.
//
// At most two graded frames wait between them, so memory does not grow with the
// picture size beyond the pool's few frames. A failure on either side fails the
// hand-off, which the other side sees at its next push or pop; the encoder
// thread is always joined before run() returns or throws. The progress observer
// is called on the calling thread after each frame is handed over.
//
// Internal to the exporter.

#include <cstdint>

#include "exporter/exporter.hpp"
#include "imaging/fitter.hpp"
#include "imaging/grade.hpp"
#include "media/decoder.hpp"
#include "media/encoder.hpp"
#include "media/muxer.hpp"

namespace vantrel {

// What one run reads from and writes to; owned by the caller of runFramePipeline.
struct PipelineStages {
    media::Decoder& decoder;
    imaging::Fitter& fitter;
    const imaging::Grade& grade;
    media::Encoder& encoder;
    media::Muxer& muxer;
    int width; // the encoded size
    int height;
    std::int64_t frameStep;
};

// Runs the frames through, flushes the encoder and finishes the file (not the
// rename). Returns the number of frames written. Throws ExportCancelled, and
// ExportError: inputUnreadable or inputEndedEarly for the decoder's failures,
// encodingStopped for the grade's and the encoder thread's, outputNotFinished
// when the file cannot be finished (also when no frame was written).
std::int64_t runFramePipeline(const PipelineStages& stages, const ExportOptions& options,
                              std::int64_t framesExpected);

} // namespace vantrel
