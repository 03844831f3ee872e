#include "media/picture_fitter.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include <fmt/format.h>

#include "media/colour_tags.hpp"
#include "media/error.hpp"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace vantrel::media {

namespace {

// The linear part (a, b, c, d) of each orientation, in picture coordinates
// (x to the right, y down). Where the decoded picture's edges end up:
//   up             nothing moves
//   upMirrored     left and right edges swap
//   down           top goes to the bottom, left to the right
//   downMirrored   top and bottom edges swap
//   left           top edge goes to the left, left edge to the bottom
//   leftMirrored   top edge goes to the left, left edge to the top (transpose)
//   right          top edge goes to the right, left edge to the top
//   rightMirrored  top edge goes to the right, left edge to the bottom (transverse)
// A phone clip recorded upright but coded lying on its side carries "right":
// its display matrix is (0, 1, -1, 0) and its picture's top must face right.
struct Candidate {
    Orientation orientation;
    double a, b, c, d;
};
constexpr std::array<Candidate, 8> candidates{{
    {Orientation::up, 1, 0, 0, 1},
    {Orientation::upMirrored, -1, 0, 0, 1},
    {Orientation::down, -1, 0, 0, -1},
    {Orientation::downMirrored, 1, 0, 0, -1},
    {Orientation::left, 0, -1, 1, 0},
    {Orientation::leftMirrored, 0, 1, 1, 0},
    {Orientation::right, 0, 1, -1, 0},
    {Orientation::rightMirrored, 0, -1, -1, 0},
}};

struct SwsContextFreer {
    void operator()(SwsContext* context) const noexcept { sws_freeContext(context); }
};

// Sample depth of a layout we can hand over as it is: three planes Y′, Cb, Cr of
// one component each, 8 to 16 bits (little-endian, in the low bits), chroma
// halved at most. Nothing for any other layout.
std::optional<int> planarYCbCrDepth(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc || desc->nb_components != 3 || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR))
        return std::nullopt;
    constexpr auto excluded = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BE |
                              AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM |
                              AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_ALPHA;
    if (desc->flags & excluded || desc->log2_chroma_w > 1 || desc->log2_chroma_h > 1)
        return std::nullopt;
    const int depth = desc->comp[0].depth;
    if (depth < 8 || depth > 16)
        return std::nullopt;
    for (int i = 0; i < 3; ++i) {
        const AVComponentDescriptor& comp = desc->comp[i];
        if (comp.plane != i || comp.depth != depth || comp.shift != 0 || comp.offset != 0 ||
            comp.step != (depth > 8 ? 2 : 1))
            return std::nullopt;
    }
    return depth;
}

// Sources the scaler turns into Y′CbCr itself; they come out BT.709 full range.
// XYZ goes through RGB inside the scaler.
bool isRgbLike(AVPixelFormat format) {
    if (format == AV_PIX_FMT_XYZ12LE || format == AV_PIX_FMT_XYZ12BE)
        return true;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc &&
           (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BAYER));
}

// The full-range "J" formats have the layout of their plain twins; swscale wants
// the twin and the range stated separately.
AVPixelFormat withoutRangeAlias(AVPixelFormat format) {
    constexpr std::pair<AVPixelFormat, AVPixelFormat> twins[] = {
        {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P}, {AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV422P},
        {AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV444P}, {AV_PIX_FMT_YUVJ440P, AV_PIX_FMT_YUV440P},
        {AV_PIX_FMT_YUVJ411P, AV_PIX_FMT_YUV411P},
    };
    for (const auto& [alias, twin] : twins)
        if (format == alias)
            return twin;
    return format;
}

// The part of a decoded side that is used for an output side: all of it, or all
// but the last row or column when the source is odd and one longer (the encoder
// codes even sides only, so the odd line is cropped rather than scaled away).
int usedSide(int source, int wanted) {
    return source == wanted + 1 && source % 2 == 1 ? wanted : source;
}

PictureView viewOf(const AVFrame& frame, int width, int height, int bitDepth, int shiftX,
                   int shiftY, YCbCrMatrix matrix, ColourRange range) {
    PictureView view;
    view.width = width;
    view.height = height;
    view.bitDepth = bitDepth;
    view.chromaShiftX = shiftX;
    view.chromaShiftY = shiftY;
    for (int i = 0; i < 3; ++i)
        view.planes[i] = {frame.data[i], frame.linesize[i]};
    view.matrix = matrix;
    view.range = range;
    return view;
}

FramePtr allocate444(int width, int height) {
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw MediaError(AVERROR(ENOMEM), "allocate a scratch picture");
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUV444P16LE;
    check(av_frame_get_buffer(frame.get(), 0), "allocate a scratch picture");
    return frame;
}

// Copies one 16-bit plane of `source` (the upright picture, before turning) into
// `target` turned by `orientation`. Output sample (x, y) is read at
// origin + x·stepX + y·stepY bytes in the source.
void turnPlane(const std::uint8_t* source, std::ptrdiff_t sourceStride, int sourceWidth,
               int sourceHeight, std::uint8_t* target, std::ptrdiff_t targetStride, int targetWidth,
               int targetHeight, Orientation orientation) {
    const std::ptrdiff_t sample = sizeof(std::uint16_t);
    const std::ptrdiff_t lastX = (sourceWidth - 1) * sample;
    const std::ptrdiff_t lastY = (sourceHeight - 1) * sourceStride;
    std::ptrdiff_t origin = 0, stepX = sample, stepY = sourceStride;
    switch (orientation) {
    case Orientation::up:
        break;
    case Orientation::upMirrored:
        origin = lastX, stepX = -sample, stepY = sourceStride;
        break;
    case Orientation::down:
        origin = lastX + lastY, stepX = -sample, stepY = -sourceStride;
        break;
    case Orientation::downMirrored:
        origin = lastY, stepX = sample, stepY = -sourceStride;
        break;
    case Orientation::left:
        origin = lastX, stepX = sourceStride, stepY = -sample;
        break;
    case Orientation::leftMirrored:
        origin = 0, stepX = sourceStride, stepY = sample;
        break;
    case Orientation::right:
        origin = lastY, stepX = -sourceStride, stepY = sample;
        break;
    case Orientation::rightMirrored:
        origin = lastX + lastY, stepX = -sourceStride, stepY = -sample;
        break;
    }
    // Quarter turns read the source down its columns; tiles keep those reads in cache.
    constexpr int tile = 64;
    for (int y0 = 0; y0 < targetHeight; y0 += tile) {
        const int y1 = std::min(y0 + tile, targetHeight);
        for (int x0 = 0; x0 < targetWidth; x0 += tile) {
            const int x1 = std::min(x0 + tile, targetWidth);
            for (int y = y0; y < y1; ++y) {
                auto* out = reinterpret_cast<std::uint16_t*>(target + y * targetStride);
                const std::uint8_t* row = source + origin + y * stepY;
                for (int x = x0; x < x1; ++x)
                    out[x] = *reinterpret_cast<const std::uint16_t*>(row + x * stepX);
            }
        }
    }
}

} // namespace

Orientation orientationOf(const AffineTransform& t) {
    Orientation best = Orientation::up;
    double bestScore = 0;
    for (const Candidate& candidate : candidates) {
        const double score =
            t.a * candidate.a + t.b * candidate.b + t.c * candidate.c + t.d * candidate.d;
        if (score > bestScore) {
            bestScore = score;
            best = candidate.orientation;
        }
    }
    return best;
}

bool swapsSides(Orientation orientation) {
    switch (orientation) {
    case Orientation::up:
    case Orientation::upMirrored:
    case Orientation::down:
    case Orientation::downMirrored:
        return false;
    case Orientation::left:
    case Orientation::leftMirrored:
    case Orientation::right:
    case Orientation::rightMirrored:
        return true;
    }
    return false;
}

struct PictureFitter::State {
    int outputWidth;
    int outputHeight;
    Orientation orientation;

    // What the scaler was last set up for. The colour details are kept apart from
    // what sws_getCachedContext compares, so any change sets the scaler up afresh.
    struct ScalerSetup {
        int sourceWidth, sourceHeight;
        AVPixelFormat sourceFormat;
        int width, height;
        YCbCrMatrix matrix;
        ColourRange range;
        bool rgbSource;
        bool operator==(const ScalerSetup&) const = default;
    };
    std::unique_ptr<SwsContext, SwsContextFreer> scaler;
    std::optional<ScalerSetup> scalerSetup;
    FramePtr upright; // 4:4:4 16-bit, the output size before turning
    FramePtr turned;  // 4:4:4 16-bit, the output size

    PictureView convert(const AVFrame& decoded, YCbCrMatrix matrix, ColourRange range);
};

PictureFitter::PictureFitter(int outputWidth, int outputHeight, Orientation orientation)
    : state_(
          std::make_unique<State>(State{outputWidth, outputHeight, orientation, {}, {}, {}, {}})) {}

PictureFitter::~PictureFitter() = default;

PictureView PictureFitter::fit(const DecodedPicture& picture) {
    const AVFrame& decoded = frameOf(picture);
    State& s = *state_;
    const auto format = static_cast<AVPixelFormat>(decoded.format);
    const YCbCrMatrix matrix = matrixOf(decoded.colorspace, decoded.height);
    const ColourRange range = rangeOf(decoded.color_range, format);

    if (s.orientation == Orientation::up &&
        usedSide(decoded.width, s.outputWidth) == s.outputWidth &&
        usedSide(decoded.height, s.outputHeight) == s.outputHeight) {
        if (const std::optional<int> depth = planarYCbCrDepth(format)) {
            const AVPixFmtDescriptor& desc = *av_pix_fmt_desc_get(format);
            return viewOf(decoded, s.outputWidth, s.outputHeight, *depth, desc.log2_chroma_w,
                          desc.log2_chroma_h, matrix, range);
        }
    }
    return s.convert(decoded, matrix, range);
}

PictureView PictureFitter::State::convert(const AVFrame& decoded, YCbCrMatrix matrix,
                                          ColourRange range) {
    const auto format = static_cast<AVPixelFormat>(decoded.format);
    const char* formatName = av_get_pix_fmt_name(format);
    const std::string action =
        fmt::format("convert a {} picture", formatName ? formatName : "undescribed");
    const bool rgbSource = isRgbLike(format);
    if (rgbSource) {
        matrix = YCbCrMatrix::bt709;
        range = ColourRange::full;
    }
    const AVPixelFormat scalerInput = withoutRangeAlias(format);
    if (!sws_isSupportedInput(scalerInput))
        throw MediaError(action, "the scaler cannot read that format");

    const bool swap = swapsSides(orientation);
    const int uprightWidth = swap ? outputHeight : outputWidth;
    const int uprightHeight = swap ? outputWidth : outputHeight;
    const int usedWidth = usedSide(decoded.width, uprightWidth);
    const int usedHeight = usedSide(decoded.height, uprightHeight);

    const ScalerSetup setup{usedWidth,     usedHeight, scalerInput, uprightWidth,
                            uprightHeight, matrix,     range,       rgbSource};
    if (setup != scalerSetup) {
        scalerSetup.reset();
        scaler.reset(sws_getCachedContext(scaler.release(), usedWidth, usedHeight, scalerInput,
                                          uprightWidth, uprightHeight, AV_PIX_FMT_YUV444P16LE,
                                          SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                          nullptr, nullptr, nullptr));
        if (!scaler)
            throw MediaError(action, "the scaler could not be set up");
        // Same coefficients and the same range on both sides: a Y′CbCr source keeps
        // its values (only widened to 16 bits); an RGB source becomes BT.709 full range.
        const int* coefficients = swscaleCoefficients(matrix);
        const int fullRange = range == ColourRange::full ? 1 : 0;
        if (sws_setColorspaceDetails(scaler.get(), coefficients, rgbSource ? 1 : fullRange,
                                     coefficients, fullRange, 0, 1 << 16, 1 << 16) < 0)
            throw MediaError(action, "the scaler refused the colour details");
        scalerSetup = setup;
    }

    if (!upright || upright->width != uprightWidth || upright->height != uprightHeight)
        upright = allocate444(uprightWidth, uprightHeight);
    check(sws_scale(scaler.get(), decoded.data, decoded.linesize, 0, usedHeight, upright->data,
                    upright->linesize),
          action);

    const AVFrame* result = upright.get();
    if (orientation != Orientation::up) {
        if (!turned || turned->width != outputWidth || turned->height != outputHeight)
            turned = allocate444(outputWidth, outputHeight);
        for (int i = 0; i < 3; ++i)
            turnPlane(upright->data[i], upright->linesize[i], uprightWidth, uprightHeight,
                      turned->data[i], turned->linesize[i], outputWidth, outputHeight, orientation);
        result = turned.get();
    }
    return viewOf(*result, outputWidth, outputHeight, 16, 0, 0, matrix, range);
}

} // namespace vantrel::media
