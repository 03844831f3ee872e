#pragma once
// What a preview shares with an export: the job and the LUT read, the clip
// opened, and the objects that turn its pictures into graded ones, built the
// same way. Internal to the exporter.

#include <memory>
#include <string>
#include <vector>

#include "exporter/exporter.hpp"

namespace vantrel::imaging {
class Fitter;
class Grade;
} // namespace vantrel::imaging

namespace vantrel::media {
class Decoder;
} // namespace vantrel::media

namespace vantrel {

// Destroyed only where the three classes are complete (they are held by pointer
// so that no header of the codec library's reaches this one).
struct GradingSetup {
    std::unique_ptr<imaging::Grade> grade;
    std::unique_ptr<media::Decoder> decoder;
    std::unique_ptr<imaging::Fitter> fitter;
    int width = 0; // the encoded size
    int height = 0;
    double durationSeconds = 0;
    std::vector<std::string> warnings;
};

// Refuses, with ExportError outputIsInput or FileError, an output that names one
// of the request's own inputs or that cannot be replaced by renaming a new file
// over it.
void refuseUnsafeOutput(const ExportRequest& request);

// Prepares as an export of `request` does, up to the encoder. Throws what
// Exporter::exportVideo throws before its first frame, output checks aside.
GradingSetup prepareGrading(const ExportRequest& request);

} // namespace vantrel
