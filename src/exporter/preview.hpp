#pragma once
// One frame of a clip graded exactly as its export grades it, to judge a look
// before exporting: the same reading of the job and the LUT, the same decoder,
// fitter (turn, size, chroma) and grade, up to the 10-bit 4:2:0 picture the
// encoder would receive; shown as a viewer shows the file (BT.709, full range).
//
// A Previewer keeps the clip open, so that one frame after another costs a seek
// and the decoding from the key frame before it. Threading: one thread at a
// time; a window previews on a thread of its own.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/picture.hpp"
#include "exporter/exporter.hpp"

namespace vantrel {

// 16-bit R′G′B′ pixels, row after row.
struct PreviewImage {
    int width = 0;
    int height = 0;
    double seconds = 0; // when the frame shown is shown in the clip
    std::vector<std::uint16_t> rgb;
};

class Previewer {
public:
    // Reads the job, the LUT and the clip as an export of `request` would (the
    // output path plays no part). Throws what Exporter::plan throws, and
    // ExportError for a LUT the grade cannot hold or a clip it cannot decode.
    explicit Previewer(const ExportRequest& request);
    ~Previewer();
    Previewer(const Previewer&) = delete;
    Previewer& operator=(const Previewer&) = delete;

    // The clip's duration in seconds; NaN when the file does not say.
    double durationSeconds() const;
    // The encoded picture size: the preview's size.
    int width() const;
    int height() const;
    // What the export would warn about (ExportResult::warnings).
    const std::vector<std::string>& warnings() const;

    // How strongly the grade applies (GradeOptions::strength): the job's, or the
    // request's strengthOverride. Changing it keeps the clip and the cube open, and
    // the next frame asked for at the moment last asked for is graded again from
    // the picture already decoded. Throws Error for a strength a grade refuses.
    double strength() const;
    void setStrength(double strength);

    // The frame shown at `seconds`, graded, as the encoder would receive it. The
    // view stays valid until the next call. Throws ExportError inputUnreadable.
    PictureView gradedAt(double seconds);
    // The frame shown at `seconds` for a viewer: left of `split` (a fraction of
    // the width, 0 to 1) as the source is, right of it graded. Split 0 shows the
    // grade only.
    PreviewImage imageAt(double seconds, double split = 0);
    // The frame shown at `seconds` as the source is and graded, for a viewer
    // that moves the split itself.
    struct Sides {
        PreviewImage source;
        PreviewImage graded;
    };
    Sides sidesAt(double seconds);

    // Writes an image as a 16-bit PNG, replacing `path` only once it is complete.
    // Refuses, as an export refuses its output, a path that is one of the
    // previewed files or that cannot be replaced. Throws Error.
    void writePng(const std::filesystem::path& path, const PreviewImage& image) const;

private:
    struct Open;
    std::unique_ptr<Open> open_;
};

} // namespace vantrel
