#include "imaging/fitter.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "imaging/chroma.hpp"
#include "media/orientation.hpp"
#include "media/picture_layout.hpp"
#include "media/picture_scaler.hpp"

namespace vantrel::imaging {

namespace {

// The part of a decoded side that is used for an output side: all of it, or all
// but the last row or column when the source is odd and one longer (the encoder
// codes even sides only, so the odd line is cropped rather than scaled away).
int usedSide(int source, int wanted) {
    return source == wanted + 1 && source % 2 == 1 ? wanted : source;
}

// A scratch picture of that size, reallocated only when the size changes.
PictureView scratch(media::Frame& frame, int width, int height) {
    if (!frame || frame.width() != width || frame.height() != height)
        frame = media::allocatePicture16(width, height);
    PictureView view = frame.view();
    view.colour = {};
    return view;
}

// The 16-bit limited-range convention of rebuilt pictures.
constexpr CodeRange rebuiltCodes = codeRange(Range::limited, 16);

std::uint16_t rebuiltCode(float v) {
    return static_cast<std::uint16_t>(std::lrint(std::clamp(v, 0.0f, 65535.0f)));
}

std::uint16_t* row16(const Plane& plane, int y) {
    return reinterpret_cast<std::uint16_t*>(plane.data + std::ptrdiff_t{y} * plane.stride);
}

} // namespace

struct Fitter::State {
    int width;
    int height;
    Orientation orientation;

    media::LayoutReader reader;
    media::PictureScaler scaler;
    media::Frame rebuilt; // 4:4:4 16-bit, the used source size
    media::Frame scaled;  // 4:4:4 16-bit, the output size before turning
    media::Frame turned;  // 4:4:4 16-bit, the output size
    std::vector<std::uint16_t> row;
    std::vector<std::uint16_t> chroma[2];
    std::vector<ChromaTaps> across;

    void rebuildYCbCr(const media::Frame& from, const media::Layout& layout, const PictureView& to);
};

Fitter::Fitter(int width, int height, Orientation orientation) : state_(std::make_unique<State>()) {
    state_->width = width;
    state_->height = height;
    state_->orientation = orientation;
}

Fitter::~Fitter() = default;

PictureView Fitter::fit(const media::Frame& decoded) {
    State& s = *state_;
    if (s.orientation == Orientation::up && usedSide(decoded.width(), s.width) == s.width &&
        usedSide(decoded.height(), s.height) == s.height) {
        if (const std::optional<PictureView> view = media::planarView(decoded, s.width, s.height))
            return *view;
    }

    const bool swap = swapsSides(s.orientation);
    const int uprightWidth = swap ? s.height : s.width;
    const int uprightHeight = swap ? s.width : s.height;
    const int usedWidth = usedSide(decoded.width(), uprightWidth);
    const int usedHeight = usedSide(decoded.height(), uprightHeight);

    const media::Layout layout = s.reader.layoutOf(decoded);
    ColourDescription colour = layout.colour;
    const PictureView rebuiltView = scratch(s.rebuilt, usedWidth, usedHeight);
    if (layout.yCbCr) {
        s.rebuildYCbCr(decoded, layout, rebuiltView);
        colour.matrix = resolvedMatrix(colour.matrix, decoded.height());
    } else {
        s.reader.readConverted(decoded, usedWidth, usedHeight, rebuiltView);
        colour.matrix = Matrix::bt709;
    }

    PictureView upright = rebuiltView;
    if (usedWidth != uprightWidth || usedHeight != uprightHeight) {
        upright = scratch(s.scaled, uprightWidth, uprightHeight);
        s.scaler.scale(rebuiltView, upright);
    }
    PictureView result = upright;
    if (s.orientation != Orientation::up) {
        result = scratch(s.turned, s.width, s.height);
        media::turn(upright, result, s.orientation);
    }
    result.width = s.width;
    result.height = s.height;
    colour.range = Range::limited;
    colour.siting = ChromaSiting::left;
    result.colour = colour;
    return result;
}

// Chroma is rebuilt at its siting here, before anything moves, so that scaling
// and turning keep it on its luma.
void Fitter::State::rebuildYCbCr(const media::Frame& from, const media::Layout& layout,
                                 const PictureView& to) {
    const int w = to.width;
    const int h = to.height;
    const int shiftX = layout.chromaShiftX;
    const int shiftY = layout.chromaShiftY;
    const int chromaWidth = (w + (1 << shiftX) - 1) >> shiftX;
    const int chromaHeight = (h + (1 << shiftY) - 1) >> shiftY;
    const ChromaSiting siting = layout.colour.siting;

    // Each source code maps to the rebuilt convention by one multiply-add.
    const Range range = resolvedRange(layout.colour.range);
    const auto mapping = [&](int bits, bool luma) {
        const CodeRange source = codeRange(range, bits);
        const double zero = luma ? source.lumaZero : source.chromaZero;
        const float scale = static_cast<float>(luma ? rebuiltCodes.lumaSpan / source.lumaSpan
                                                    : rebuiltCodes.chromaSpan / source.chromaSpan);
        const float target =
            static_cast<float>(luma ? rebuiltCodes.lumaZero : rebuiltCodes.chromaZero);
        return std::pair{scale, target - static_cast<float>(zero) * scale};
    };
    const auto [lumaScale, lumaOffset] = mapping(layout.lumaDepth, true);
    const auto [chromaScale, chromaOffset] = mapping(layout.chromaDepth, false);

    row.resize(static_cast<std::size_t>(w));
    for (int p = 0; p < 2; ++p) {
        chroma[p].resize(static_cast<std::size_t>(chromaWidth) * chromaHeight);
        for (int y = 0; y < chromaHeight; ++y)
            reader.readRow(from, 1 + p, y, chromaWidth, &chroma[p][std::size_t(y) * chromaWidth]);
    }
    across.resize(static_cast<std::size_t>(w));
    for (int x = 0; x < w; ++x)
        across[x] = chromaTaps(x, shiftX, siting, false, chromaWidth);

    for (int y = 0; y < h; ++y) {
        reader.readRow(from, 0, y, w, row.data());
        std::uint16_t* luma = row16(to.planes[0], y);
        for (int x = 0; x < w; ++x)
            luma[x] = rebuiltCode(row[x] * lumaScale + lumaOffset);

        const ChromaTaps down = chromaTaps(y, shiftY, siting, true, chromaHeight);
        for (int p = 0; p < 2; ++p) {
            const std::uint16_t* top = &chroma[p][std::size_t(down.first) * chromaWidth];
            const std::uint16_t* bottom = &chroma[p][std::size_t(down.second) * chromaWidth];
            std::uint16_t* out = row16(to.planes[1 + p], y);
            // Vertical taps first, as the kernels take them.
            const auto column = [&](int cx) {
                const float t = top[cx];
                return t + (static_cast<float>(bottom[cx]) - t) * down.weight;
            };
            for (int x = 0; x < w; ++x) {
                const ChromaTaps& t = across[x];
                const float left = column(t.first);
                const float value = left + (column(t.second) - left) * t.weight;
                out[x] = rebuiltCode(value * chromaScale + chromaOffset);
            }
        }
    }
}

} // namespace vantrel::imaging
