#include "exporter/preview.hpp"

#include <algorithm>
#include <cmath>

#include "exporter/grading_setup.hpp"
#include "imaging/display.hpp"
#include "imaging/fitter.hpp"
#include "imaging/grade.hpp"
#include "media/decoder.hpp"
#include "media/frame.hpp"
#include "media/png_file.hpp"

namespace vantrel {

namespace {

// The ungraded side is a grade at strength 0: the same route as the grade, with
// the cube skipped (and so no limiting to its input range), so that both sides
// differ by the look alone and a grade at strength 0 shows the source exactly.
// The smallest cube that changes nothing stands in for one.
const CubeLUT identityCube{
    2, {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1, 1, 1, 1, 1}, {}};
const GradeOptions sourceAsItIs{Interpolation::trilinear, 0.0};

} // namespace

struct Previewer::Open {
    ExportRequest request;
    GradingSetup setup;
    imaging::Grade original{identityCube, sourceAsItIs};
    media::FramePool pool;
    std::optional<media::Frame> graded, ungraded;
    double seconds = 0;
    // The last frame decoded and its fitted view (valid while both are kept and
    // the fitter is not called again), for the moment it was asked for.
    std::optional<media::TimedFrame> picture;
    PictureView fitted;
    double askedSeconds = 0;

    explicit Open(const ExportRequest& r)
        : request(r), setup(prepareGrading(r)), pool(setup.width, setup.height) {}

    // Decodes and fits the frame at `at`, unless it is the one kept; grades it
    // into `graded` and, when asked, into `ungraded` too (kept as well: the
    // source side does not depend on the grade's options).
    void render(double at, bool alsoUngraded) {
        if (!picture || at != askedSeconds) {
            picture.reset(); // until decoded and fitted anew, nothing is kept
            ungraded.reset();
            std::optional<media::TimedFrame> decoded;
            try {
                decoded = setup.decoder->pictureAt(at);
            } catch (const Error& error) {
                throw ExportError(ExportCode::inputUnreadable, {}, error);
            }
            if (!decoded)
                throw ExportError(ExportCode::inputUnreadable, "the video has no pictures");
            const PictureView view = setup.fitter->fit(decoded->frame);
            picture = std::move(decoded); // moves the frame's handle; the planes stay
            fitted = view;
            askedSeconds = at;
            seconds = picture->seconds;
        }
        graded = pool.acquire();
        if (alsoUngraded && !ungraded) {
            ungraded = pool.acquire();
            if (ungraded)
                original.render(fitted, ungraded->view());
        }
        if (!graded || (alsoUngraded && !ungraded))
            throw ExportError(ExportCode::encodingStopped, "out of memory for a graded frame");
        setup.grade->render(fitted, graded->view());
    }
};

Previewer::Previewer(const ExportRequest& request) : open_(std::make_unique<Open>(request)) {}

Previewer::~Previewer() = default;

double Previewer::durationSeconds() const {
    return open_->setup.durationSeconds;
}
int Previewer::width() const {
    return open_->setup.width;
}
int Previewer::height() const {
    return open_->setup.height;
}
const std::vector<std::string>& Previewer::warnings() const {
    return open_->setup.warnings;
}

double Previewer::strength() const {
    return open_->setup.grade->options().strength;
}

void Previewer::setStrength(double strength) {
    auto options = open_->setup.grade->options();
    if (options.strength == strength)
        return;
    options.strength = strength;
    open_->setup.grade = std::make_unique<imaging::Grade>(open_->setup.grade->withOptions(options));
}

PictureView Previewer::gradedAt(double seconds) {
    open_->render(seconds, false);
    return open_->graded->view();
}

Previewer::Sides Previewer::sidesAt(double seconds) {
    open_->render(seconds, true);
    const int width = open_->setup.width, height = open_->setup.height;
    return {{width, height, open_->seconds, imaging::toRgb16(open_->ungraded->view())},
            {width, height, open_->seconds, imaging::toRgb16(open_->graded->view())}};
}

PreviewImage Previewer::imageAt(double seconds, double split) {
    split = std::isfinite(split) ? std::clamp(split, 0.0, 1.0) : 0.0;
    const int width = open_->setup.width;
    const int splitAt = static_cast<int>(std::lround(split * width));
    if (splitAt == 0) {
        open_->render(seconds, false);
        return {width, open_->setup.height, open_->seconds,
                imaging::toRgb16(open_->graded->view())};
    }
    auto [image, graded] = sidesAt(seconds);
    for (int y = 0; y < image.height; ++y) {
        const auto row = std::size_t(y) * width * 3;
        std::copy(graded.rgb.begin() + row + splitAt * 3, graded.rgb.begin() + row + width * 3,
                  image.rgb.begin() + row + splitAt * 3);
    }
    return image;
}

void Previewer::writePng(const std::filesystem::path& path, const PreviewImage& image) const {
    ExportRequest request = open_->request;
    request.outputPath = path;
    refuseUnsafeOutput(request);
    media::writePng16(path, image.width, image.height, image.rgb);
}

} // namespace vantrel
