#include "media/colour_tags.hpp"

extern "C" {
#include <libswscale/swscale.h>
}

namespace vantrel::media {

namespace {
// Standard definition is 576 lines or fewer; pictures above it are HD and BT.709.
YCbCrMatrix guessedMatrix(int height) {
    return height > 576 ? YCbCrMatrix::bt709 : YCbCrMatrix::bt601;
}
} // namespace

YCbCrMatrix matrixOf(AVColorSpace colourSpace, int height) {
    switch (colourSpace) {
    case AVCOL_SPC_BT709:
        return YCbCrMatrix::bt709;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_FCC:
    // SMPTE 240M's coefficients are within a hair of BT.601's.
    case AVCOL_SPC_SMPTE240M:
        return YCbCrMatrix::bt601;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return YCbCrMatrix::bt2020;
    // Matrices we do not model are read with the guess for the picture's size,
    // as an untagged picture would be.
    case AVCOL_SPC_RGB:
    case AVCOL_SPC_UNSPECIFIED:
    case AVCOL_SPC_RESERVED:
    case AVCOL_SPC_YCGCO:
    case AVCOL_SPC_SMPTE2085:
    case AVCOL_SPC_CHROMA_DERIVED_NCL:
    case AVCOL_SPC_CHROMA_DERIVED_CL:
    case AVCOL_SPC_ICTCP:
    case AVCOL_SPC_NB:
        return guessedMatrix(height);
    }
    return guessedMatrix(height);
}

ColourRange rangeOf(AVColorRange range, AVPixelFormat format) {
    if (format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
        format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
        format == AV_PIX_FMT_YUVJ411P)
        return ColourRange::full;
    switch (range) {
    case AVCOL_RANGE_JPEG:
        return ColourRange::full;
    case AVCOL_RANGE_MPEG:
    case AVCOL_RANGE_UNSPECIFIED:
    case AVCOL_RANGE_NB:
        return ColourRange::limited;
    }
    return ColourRange::limited;
}

const int* swscaleCoefficients(YCbCrMatrix matrix) {
    switch (matrix) {
    case YCbCrMatrix::bt709:
        return sws_getCoefficients(SWS_CS_ITU709);
    case YCbCrMatrix::bt601:
        return sws_getCoefficients(SWS_CS_ITU601);
    case YCbCrMatrix::bt2020:
        return sws_getCoefficients(SWS_CS_BT2020);
    }
    return sws_getCoefficients(SWS_CS_DEFAULT);
}

} // namespace vantrel::media
