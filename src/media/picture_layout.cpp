#include "media/picture_layout.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "media/colour_tags.hpp"
#include "media/error.hpp"
#include "media/frame_internal.hpp"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace vantrel::media {

namespace {

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

// A scratch picture of that size, reallocated only when the size changes.
AVFrame& scratch(FramePtr& frame, int width, int height, AVPixelFormat format) {
    if (!frame || frame->width != width || frame->height != height || frame->format != format)
        frame = allocateFrame(width, height, format);
    return *frame;
}

// The 16-bit limited-range convention the fitter builds in.
constexpr CodeRange rebuilt = codeRange(Range::limited, 16);
// The rebuilt code of a component value: Y′ (0 to 1) with `luma`, else Cb or Cr
// (−½ to ½). Nearest, unless the code stands for a value on the other side of a
// rounding boundary of the 10-bit output (1023·Y′, 512 + 1023·C) than the value
// itself; then the next code towards the value. A plain nearest code is up to
// 0.009 of an output code off, enough to grade (0, 0, 254) to Cb 1022 instead of
// 1021.49's 1021: the output keeps the value's own rounding this way.
std::uint16_t rebuiltCode(double v, bool luma) {
    const double zero = luma ? rebuilt.lumaZero : rebuilt.chromaZero;
    const double span = luma ? rebuilt.lumaSpan : rebuilt.chromaSpan;
    const double outZero = luma ? 0 : 512;
    const double exact = zero + span * v;
    double code = std::nearbyint(exact);
    const auto output = [&](double c) {
        return std::nearbyint(outZero + 1023 * (c - zero) / span);
    };
    if (output(code) != std::nearbyint(outZero + 1023 * v))
        code += code > exact ? -1 : 1;
    return static_cast<std::uint16_t>(std::clamp(code, 0.0, 65535.0));
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

using RowScratch = std::vector<std::uint16_t>[3];

void convertRgb(const AVFrame& from, const AVPixFmtDescriptor& desc, Reading reading, int width,
                int height, bool limitedGrey, const PictureView& to, RowScratch& rows) {
    for (auto& row : rows)
        row.resize(static_cast<std::size_t>(width));
    // Component values are code·scale + offset.
    double scale[3];
    double offset = 0;
    for (int c = 0; c < 3; ++c) {
        const int bits =
            reading == Reading::palette ? 8 : desc.comp[reading == Reading::rgb ? c : 0].depth;
        scale[c] = 1 / (std::ldexp(1.0, bits) - 1);
        if (reading == Reading::grey && limitedGrey) {
            const double unit = std::ldexp(1.0, bits - 8);
            scale[c] = 1 / (219 * unit);
            offset = -16 * unit * scale[c];
        }
    }
    // BT.709, as the encoded stream is tagged.
    constexpr LumaCoefficients bt709 = lumaCoefficients(Matrix::bt709);
    constexpr double kr = bt709.kr, kb = bt709.kb;
    constexpr double kg = 1 - kr - kb;
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
            out[p] = reinterpret_cast<std::uint16_t*>(to.planes[p].data +
                                                      std::ptrdiff_t{y} * to.planes[p].stride);
        for (int x = 0; x < width; ++x) {
            const double r = rows[0][x] * scale[0] + offset;
            const double g = rows[1][x] * scale[1] + offset;
            const double b = rows[2][x] * scale[2] + offset;
            const double luma = kr * r + kg * g + kb * b;
            out[0][x] = rebuiltCode(luma, true);
            out[1][x] = rebuiltCode((b - luma) / (2 * (1 - kb)), false);
            out[2][x] = rebuiltCode((r - luma) / (2 * (1 - kr)), false);
        }
    }
}

const AVPixFmtDescriptor& descriptorOf(const AVFrame& frame) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (!desc)
        throw MediaError("fit a decoded picture", "the picture's layout is not described");
    return *desc;
}

} // namespace

std::optional<PictureView> planarView(const Frame& decoded, int width, int height) {
    const AVFrame& frame = avFrame(decoded);
    const std::optional<int> depth = planarYCbCrDepth(descriptorOf(frame));
    if (!depth)
        return std::nullopt;
    PictureView view = decoded.view();
    view.width = width;
    view.height = height;
    view.bitDepth = *depth;
    // The guess for an untagged matrix goes by the decoded height, before any crop.
    view.colour.matrix = resolvedMatrix(view.colour.matrix, frame.height);
    return view;
}

struct LayoutReader::State {
    Scaler toRgb; // layouts we do not read ourselves, to 16-bit RGB
    FramePtr rgb;
    RowScratch rows;
};

LayoutReader::LayoutReader() : state_(std::make_unique<State>()) {}
LayoutReader::~LayoutReader() = default;

Layout LayoutReader::layoutOf(const Frame& decoded) const {
    const AVFrame& frame = avFrame(decoded);
    const AVPixFmtDescriptor& desc = descriptorOf(frame);
    const Reading reading = readingOf(desc);
    if (reading == Reading::refused)
        throw MediaError(fmt::format("fit a {} picture", desc.name), "its samples cannot be read");
    Layout layout;
    layout.yCbCr = reading == Reading::yCbCr;
    layout.lumaDepth = desc.comp[0].depth;
    layout.chromaDepth = desc.comp[layout.yCbCr ? 1 : 0].depth;
    layout.chromaShiftX = desc.log2_chroma_w;
    layout.chromaShiftY = desc.log2_chroma_h;
    layout.colour = describe(frame);
    return layout;
}

void LayoutReader::readRow(const Frame& decoded, int component, int y, int count,
                           std::uint16_t* out) const {
    const AVFrame& frame = avFrame(decoded);
    media::readRow(frame, descriptorOf(frame), component, y, count, out);
}

void LayoutReader::readConverted(const Frame& decoded, int width, int height,
                                 const PictureView& to) {
    const AVFrame& frame = avFrame(decoded);
    const AVPixFmtDescriptor& desc = descriptorOf(frame);
    const std::string action = fmt::format("fit a {} picture", desc.name);
    Reading reading = readingOf(desc);
    const AVFrame* source = &frame;
    const AVPixFmtDescriptor* layout = &desc;
    if (reading == Reading::viaScaler) {
        State& s = *state_;
        s.toRgb.prepare({width, height, static_cast<AVPixelFormat>(frame.format), width, height,
                         AV_PIX_FMT_RGB48LE},
                        SWS_POINT | SWS_ACCURATE_RND, action);
        s.toRgb.scale(frame, scratch(s.rgb, width, height, AV_PIX_FMT_RGB48LE), action);
        source = s.rgb.get();
        layout = av_pix_fmt_desc_get(AV_PIX_FMT_RGB48LE);
        reading = Reading::rgb;
    }
    // Grey pictures are full range (as stills are) unless the stream says
    // otherwise, as a monochrome video stream may.
    convertRgb(*source, *layout, reading, width, height, frame.color_range == AVCOL_RANGE_MPEG, to,
               state_->rows);
}

} // namespace vantrel::media
