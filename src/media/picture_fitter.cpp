#include "media/picture_fitter.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "media/chroma_siting.hpp"
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
std::optional<int> planarYCbCrDepth(const AVPixFmtDescriptor& desc) {
    if (desc.nb_components != 3 || !(desc.flags & AV_PIX_FMT_FLAG_PLANAR))
        return std::nullopt;
    constexpr auto excluded = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BE |
                              AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM |
                              AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_ALPHA;
    if (desc.flags & excluded || desc.log2_chroma_w > 1 || desc.log2_chroma_h > 1)
        return std::nullopt;
    const int depth = desc.comp[0].depth;
    if (depth < 8 || depth > 16)
        return std::nullopt;
    for (int i = 0; i < 3; ++i) {
        const AVComponentDescriptor& comp = desc.comp[i];
        if (comp.plane != i || comp.depth != depth || comp.shift != 0 || comp.offset != 0 ||
            comp.step != (depth > 8 ? 2 : 1))
            return std::nullopt;
    }
    return depth;
}

// How the fitter reads a layout's samples.
enum class Reading {
    yCbCr,     // components 0 to 2 are Y′, Cb, Cr
    rgb,       // components 0 to 2 are R′, G′, B′ (full range)
    grey,      // component 0 is Y′ (full range), no chroma
    palette,   // 8-bit indices into an RGB palette
    viaScaler, // described in a way we do not read: made 16-bit RGB by swscale first
    refused,   // no samples in memory
};

Reading readingOf(const AVPixFmtDescriptor& desc) {
    if (desc.flags & AV_PIX_FMT_FLAG_HWACCEL)
        return Reading::refused;
    if (desc.flags & AV_PIX_FMT_FLAG_PAL)
        return Reading::palette;
    // XYZ is tagged as neither RGB nor Y′CbCr; swscale knows how to take it to RGB.
    if (desc.flags & (AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER) ||
        std::string_view(desc.name).starts_with("xyz"))
        return Reading::viaScaler;
    if (desc.flags & AV_PIX_FMT_FLAG_RGB)
        return desc.nb_components >= 3 ? Reading::rgb : Reading::refused;
    return desc.nb_components >= 3 ? Reading::yCbCr : Reading::grey;
}

ChromaSiting sitingOf(AVChromaLocation location) {
    switch (location) {
    case AVCHROMA_LOC_CENTER:
        return ChromaSiting::centre;
    case AVCHROMA_LOC_TOPLEFT:
        return ChromaSiting::topLeft;
    case AVCHROMA_LOC_TOP:
        return ChromaSiting::top;
    case AVCHROMA_LOC_BOTTOMLEFT:
        return ChromaSiting::bottomLeft;
    case AVCHROMA_LOC_BOTTOM:
        return ChromaSiting::bottom;
    // Unspecified means the MPEG-2/H.264/HEVC default.
    case AVCHROMA_LOC_UNSPECIFIED:
    case AVCHROMA_LOC_LEFT:
    case AVCHROMA_LOC_NB:
        return ChromaSiting::left;
    }
    return ChromaSiting::left;
}

// The part of a decoded side that is used for an output side: all of it, or all
// but the last row or column when the source is odd and one longer (the encoder
// codes even sides only, so the odd line is cropped rather than scaled away).
int usedSide(int source, int wanted) {
    return source == wanted + 1 && source % 2 == 1 ? wanted : source;
}

PictureView viewOf(const AVFrame& frame, int width, int height, int bitDepth, int shiftX,
                   int shiftY, YCbCrMatrix matrix, ColourRange range, ChromaSiting siting) {
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
    view.siting = siting;
    return view;
}

FramePtr allocate(int width, int height, AVPixelFormat format) {
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw MediaError(AVERROR(ENOMEM), "allocate a scratch picture");
    frame->width = width;
    frame->height = height;
    frame->format = format;
    check(av_frame_get_buffer(frame.get(), 0), "allocate a scratch picture");
    return frame;
}

// A scratch picture of that size, reallocated only when the size changes.
AVFrame& scratch(FramePtr& frame, int width, int height, AVPixelFormat format) {
    if (!frame || frame->width != width || frame->height != height || frame->format != format)
        frame = allocate(width, height, format);
    return *frame;
}

// The 16-bit limited-range convention of rebuilt pictures.
constexpr float rebuiltBlack = 4096.0f;
constexpr float rebuiltLumaSpan = 56064.0f; // 219·256
constexpr float rebuiltChromaZero = 32768.0f;
constexpr float rebuiltChromaSpan = 57344.0f; // 224·256

std::uint16_t rebuiltCode(float v) {
    return static_cast<std::uint16_t>(std::lrint(std::clamp(v, 0.0f, 65535.0f)));
}

// Codes of component `c` of one row, whatever the layout.
void readRow(const AVFrame& frame, const AVPixFmtDescriptor& desc, int c, int y, int count,
             std::uint16_t* out) {
    const AVComponentDescriptor& comp = desc.comp[c];
    const bool plain = !(desc.flags & (AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_BITSTREAM)) &&
                       comp.shift == 0 && comp.offset == 0;
    const std::uint8_t* row =
        frame.data[comp.plane] + std::ptrdiff_t{y} * frame.linesize[comp.plane];
    if (plain && comp.depth == 8 && comp.step == 1) {
        std::copy_n(row, count, out);
    } else if (plain && comp.depth > 8 && comp.step == 2) {
        std::memcpy(out, row, std::size_t(count) * 2);
    } else {
        const int* lines = frame.linesize;
        const std::uint8_t* planes[4] = {frame.data[0], frame.data[1], frame.data[2],
                                         frame.data[3]};
        av_read_image_line2(out, planes, lines, &desc, 0, y, c, count, 0, 2);
    }
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

// One swscale context, set up again only when what it was set up for changes.
class Scaler {
public:
    struct Setup {
        int fromWidth, fromHeight;
        AVPixelFormat from;
        int toWidth, toHeight;
        AVPixelFormat to;
        bool operator==(const Setup&) const = default;
    };

    void prepare(const Setup& setup, int flags, const std::string& action) {
        if (setup == setup_)
            return;
        setup_.reset();
        context_.reset(sws_getCachedContext(context_.release(), setup.fromWidth, setup.fromHeight,
                                            setup.from, setup.toWidth, setup.toHeight, setup.to,
                                            flags, nullptr, nullptr, nullptr));
        if (!context_)
            throw MediaError(action, "the scaler could not be set up");
        setup_ = setup;
    }

    void scale(const AVFrame& from, AVFrame& to, const std::string& action) {
        check(sws_scale(context_.get(), from.data, from.linesize, 0, setup_->fromHeight, to.data,
                        to.linesize),
              action);
    }

private:
    std::unique_ptr<SwsContext, SwsContextFreer> context_;
    std::optional<Setup> setup_;
};

constexpr AVPixelFormat rebuiltFormat = AV_PIX_FMT_YUV444P16LE;

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

    Scaler toRgb;  // layouts we do not read ourselves, to 16-bit RGB
    Scaler resize; // rebuilt pictures to the upright output size
    FramePtr rgb;
    FramePtr rebuilt; // 4:4:4 16-bit, the used source size
    FramePtr scaled;  // 4:4:4 16-bit, the output size before turning
    FramePtr turned;  // 4:4:4 16-bit, the output size
    std::vector<std::uint16_t> rows[3];
    std::vector<std::uint16_t> chroma[2];
    std::vector<ChromaTaps> across;

    PictureView fitRebuilt(const AVFrame& decoded, const AVPixFmtDescriptor& desc,
                           YCbCrMatrix matrix, ColourRange range, ChromaSiting siting);
    void rebuildYCbCr(const AVFrame& from, const AVPixFmtDescriptor& desc, int width, int height,
                      ColourRange range, ChromaSiting siting);
    void rebuildRgb(const AVFrame& from, const AVPixFmtDescriptor& desc, Reading reading, int width,
                    int height, bool limitedGrey);
    const AVFrame& turn(const AVFrame& upright);
};

PictureFitter::PictureFitter(int outputWidth, int outputHeight, Orientation orientation)
    : state_(std::make_unique<State>()) {
    state_->outputWidth = outputWidth;
    state_->outputHeight = outputHeight;
    state_->orientation = orientation;
}

PictureFitter::~PictureFitter() = default;

PictureView PictureFitter::fit(const DecodedPicture& picture) {
    const AVFrame& decoded = frameOf(picture);
    State& s = *state_;
    const auto format = static_cast<AVPixelFormat>(decoded.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc)
        throw MediaError("fit a decoded picture", "the picture's layout is not described");
    const YCbCrMatrix matrix = matrixOf(decoded.colorspace, decoded.height);
    const ColourRange range = rangeOf(decoded.color_range, format);
    const ChromaSiting siting = sitingOf(decoded.chroma_location);

    if (s.orientation == Orientation::up &&
        usedSide(decoded.width, s.outputWidth) == s.outputWidth &&
        usedSide(decoded.height, s.outputHeight) == s.outputHeight) {
        if (const std::optional<int> depth = planarYCbCrDepth(*desc))
            return viewOf(decoded, s.outputWidth, s.outputHeight, *depth, desc->log2_chroma_w,
                          desc->log2_chroma_h, matrix, range, siting);
    }
    return s.fitRebuilt(decoded, *desc, matrix, range, siting);
}

PictureView PictureFitter::State::fitRebuilt(const AVFrame& decoded, const AVPixFmtDescriptor& desc,
                                             YCbCrMatrix matrix, ColourRange range,
                                             ChromaSiting siting) {
    const std::string action = fmt::format("fit a {} picture", desc.name);
    const bool swap = swapsSides(orientation);
    const int uprightWidth = swap ? outputHeight : outputWidth;
    const int uprightHeight = swap ? outputWidth : outputHeight;
    const int usedWidth = usedSide(decoded.width, uprightWidth);
    const int usedHeight = usedSide(decoded.height, uprightHeight);

    Reading reading = readingOf(desc);
    const AVFrame* source = &decoded;
    const AVPixFmtDescriptor* layout = &desc;
    switch (reading) {
    case Reading::refused:
        throw MediaError(action, "its samples cannot be read");
    case Reading::viaScaler:
        toRgb.prepare({usedWidth, usedHeight, static_cast<AVPixelFormat>(decoded.format), usedWidth,
                       usedHeight, AV_PIX_FMT_RGB48LE},
                      SWS_POINT | SWS_ACCURATE_RND, action);
        toRgb.scale(decoded, scratch(rgb, usedWidth, usedHeight, AV_PIX_FMT_RGB48LE), action);
        source = rgb.get();
        layout = av_pix_fmt_desc_get(AV_PIX_FMT_RGB48LE);
        reading = Reading::rgb;
        [[fallthrough]];
    case Reading::rgb:
    case Reading::grey:
    case Reading::palette:
        matrix = YCbCrMatrix::bt709;
        // Grey pictures are full range (as stills are) unless the stream says
        // otherwise, as a monochrome video stream may.
        rebuildRgb(*source, *layout, reading, usedWidth, usedHeight,
                   decoded.color_range == AVCOL_RANGE_MPEG);
        break;
    case Reading::yCbCr:
        rebuildYCbCr(decoded, desc, usedWidth, usedHeight, range, siting);
        break;
    }

    const AVFrame* upright = rebuilt.get();
    if (usedWidth != uprightWidth || usedHeight != uprightHeight) {
        resize.prepare(
            {usedWidth, usedHeight, rebuiltFormat, uprightWidth, uprightHeight, rebuiltFormat},
            SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, action);
        AVFrame& to = scratch(scaled, uprightWidth, uprightHeight, rebuiltFormat);
        resize.scale(*rebuilt, to, action);
        upright = &to;
    }
    const AVFrame& result = orientation == Orientation::up ? *upright : turn(*upright);
    return viewOf(result, outputWidth, outputHeight, 16, 0, 0, matrix, ColourRange::limited,
                  ChromaSiting::left);
}

void PictureFitter::State::rebuildYCbCr(const AVFrame& from, const AVPixFmtDescriptor& desc,
                                        int width, int height, ColourRange range,
                                        ChromaSiting siting) {
    AVFrame& to = scratch(rebuilt, width, height, rebuiltFormat);
    const int shiftX = desc.log2_chroma_w;
    const int shiftY = desc.log2_chroma_h;
    const int chromaWidth = AV_CEIL_RSHIFT(width, shiftX);
    const int chromaHeight = AV_CEIL_RSHIFT(height, shiftY);

    // Each source code maps to the rebuilt convention by one multiply-add.
    const auto mapping = [&](int bits, bool luma) {
        const float unit = std::ldexp(1.0f, bits - 8);
        const float top = std::ldexp(1.0f, bits) - 1.0f;
        const bool limited = range == ColourRange::limited;
        const float zero = luma ? (limited ? 16 * unit : 0.0f)
                                : (limited ? 128 * unit : std::ldexp(1.0f, bits - 1));
        const float scale = (luma ? rebuiltLumaSpan : rebuiltChromaSpan) /
                            (limited ? (luma ? 219 : 224) * unit : top);
        return std::pair{scale, (luma ? rebuiltBlack : rebuiltChromaZero) - zero * scale};
    };
    const auto [lumaScale, lumaOffset] = mapping(desc.comp[0].depth, true);
    const auto [chromaScale, chromaOffset] = mapping(desc.comp[1].depth, false);

    for (auto& row : rows)
        row.resize(static_cast<std::size_t>(width));
    for (int p = 0; p < 2; ++p) {
        chroma[p].resize(static_cast<std::size_t>(chromaWidth) * chromaHeight);
        for (int y = 0; y < chromaHeight; ++y)
            readRow(from, desc, 1 + p, y, chromaWidth, &chroma[p][std::size_t(y) * chromaWidth]);
    }
    across.resize(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        across[x] = chromaTaps(x, shiftX, siting, false, chromaWidth);

    for (int y = 0; y < height; ++y) {
        readRow(from, desc, 0, y, width, rows[0].data());
        auto* luma =
            reinterpret_cast<std::uint16_t*>(to.data[0] + std::ptrdiff_t{y} * to.linesize[0]);
        for (int x = 0; x < width; ++x)
            luma[x] = rebuiltCode(rows[0][x] * lumaScale + lumaOffset);

        const ChromaTaps down = chromaTaps(y, shiftY, siting, true, chromaHeight);
        for (int p = 0; p < 2; ++p) {
            const std::uint16_t* top = &chroma[p][std::size_t(down.first) * chromaWidth];
            const std::uint16_t* bottom = &chroma[p][std::size_t(down.second) * chromaWidth];
            auto* out = reinterpret_cast<std::uint16_t*>(to.data[1 + p] +
                                                         std::ptrdiff_t{y} * to.linesize[1 + p]);
            // Vertical taps first, as the kernels take them.
            const auto column = [&](int cx) {
                const float t = top[cx];
                return t + (static_cast<float>(bottom[cx]) - t) * down.weight;
            };
            for (int x = 0; x < width; ++x) {
                const ChromaTaps& t = across[x];
                const float left = column(t.first);
                const float value = left + (column(t.second) - left) * t.weight;
                out[x] = rebuiltCode(value * chromaScale + chromaOffset);
            }
        }
    }
}

void PictureFitter::State::rebuildRgb(const AVFrame& from, const AVPixFmtDescriptor& desc,
                                      Reading reading, int width, int height, bool limitedGrey) {
    AVFrame& to = scratch(rebuilt, width, height, rebuiltFormat);
    for (auto& row : rows)
        row.resize(static_cast<std::size_t>(width));
    // Component values are code·scale + offset.
    float scale[3];
    float offset = 0.0f;
    for (int c = 0; c < 3; ++c) {
        const int bits =
            reading == Reading::palette ? 8 : desc.comp[reading == Reading::rgb ? c : 0].depth;
        scale[c] = 1.0f / (std::ldexp(1.0f, bits) - 1.0f);
        if (reading == Reading::grey && limitedGrey) {
            const float unit = std::ldexp(1.0f, bits - 8);
            scale[c] = 1.0f / (219.0f * unit);
            offset = -16.0f * unit * scale[c];
        }
    }
    // BT.709, as the encoded stream is tagged.
    constexpr float kr = 0.2126f, kb = 0.0722f, kg = 1.0f - kr - kb;
    std::uint16_t* out[3];
    for (int y = 0; y < height; ++y) {
        switch (reading) {
        case Reading::rgb:
            for (int c = 0; c < 3; ++c)
                readRow(from, desc, c, y, width, rows[c].data());
            break;
        case Reading::grey:
            readRow(from, desc, 0, y, width, rows[0].data());
            rows[1] = rows[2] = rows[0];
            break;
        case Reading::palette: {
            readRow(from, desc, 0, y, width, rows[0].data());
            // Entries are native-endian 32-bit ARGB.
            const auto* palette = reinterpret_cast<const std::uint32_t*>(from.data[1]);
            for (int x = 0; x < width; ++x) {
                const std::uint32_t entry = palette[rows[0][x] & 0xff];
                rows[0][x] = entry >> 16 & 0xff;
                rows[1][x] = entry >> 8 & 0xff;
                rows[2][x] = entry & 0xff;
            }
            break;
        }
        case Reading::yCbCr:
        case Reading::viaScaler:
        case Reading::refused:
            return;
        }
        for (int p = 0; p < 3; ++p)
            out[p] =
                reinterpret_cast<std::uint16_t*>(to.data[p] + std::ptrdiff_t{y} * to.linesize[p]);
        for (int x = 0; x < width; ++x) {
            const float r = rows[0][x] * scale[0] + offset;
            const float g = rows[1][x] * scale[1] + offset;
            const float b = rows[2][x] * scale[2] + offset;
            const float luma = kr * r + kg * g + kb * b;
            out[0][x] = rebuiltCode(rebuiltBlack + rebuiltLumaSpan * luma);
            out[1][x] = rebuiltCode(rebuiltChromaZero +
                                    rebuiltChromaSpan * (b - luma) / (2.0f * (1.0f - kb)));
            out[2][x] = rebuiltCode(rebuiltChromaZero +
                                    rebuiltChromaSpan * (r - luma) / (2.0f * (1.0f - kr)));
        }
    }
}

const AVFrame& PictureFitter::State::turn(const AVFrame& upright) {
    AVFrame& to = scratch(turned, outputWidth, outputHeight, rebuiltFormat);
    for (int i = 0; i < 3; ++i)
        turnPlane(upright.data[i], upright.linesize[i], upright.width, upright.height, to.data[i],
                  to.linesize[i], outputWidth, outputHeight, orientation);
    return to;
}

} // namespace vantrel::media
