#include "media/colour_tags.hpp"

namespace vantrel::media {

namespace {

// The enums share their numbers with FFmpeg's, but a switch per enum makes a
// value FFmpeg adds a compiler warning here rather than a silent cast.
Primaries fromFFmpeg(AVColorPrimaries value) {
    switch (value) {
    case AVCOL_PRI_RESERVED0:
        return Primaries::reserved0;
    case AVCOL_PRI_BT709:
        return Primaries::bt709;
    case AVCOL_PRI_UNSPECIFIED:
        return Primaries::unspecified;
    case AVCOL_PRI_RESERVED:
        return Primaries::reserved;
    case AVCOL_PRI_BT470M:
        return Primaries::bt470m;
    case AVCOL_PRI_BT470BG:
        return Primaries::bt470bg;
    case AVCOL_PRI_SMPTE170M:
        return Primaries::smpte170m;
    case AVCOL_PRI_SMPTE240M:
        return Primaries::smpte240m;
    case AVCOL_PRI_FILM:
        return Primaries::film;
    case AVCOL_PRI_BT2020:
        return Primaries::bt2020;
    case AVCOL_PRI_SMPTE428:
        return Primaries::smpte428;
    case AVCOL_PRI_SMPTE431:
        return Primaries::smpte431;
    case AVCOL_PRI_SMPTE432:
        return Primaries::smpte432;
    case AVCOL_PRI_EBU3213:
        return Primaries::ebu3213;
    case AVCOL_PRI_NB:
        break;
    }
    return Primaries::unspecified;
}

Transfer fromFFmpeg(AVColorTransferCharacteristic value) {
    switch (value) {
    case AVCOL_TRC_RESERVED0:
        return Transfer::reserved0;
    case AVCOL_TRC_BT709:
        return Transfer::bt709;
    case AVCOL_TRC_UNSPECIFIED:
        return Transfer::unspecified;
    case AVCOL_TRC_RESERVED:
        return Transfer::reserved;
    case AVCOL_TRC_GAMMA22:
        return Transfer::gamma22;
    case AVCOL_TRC_GAMMA28:
        return Transfer::gamma28;
    case AVCOL_TRC_SMPTE170M:
        return Transfer::smpte170m;
    case AVCOL_TRC_SMPTE240M:
        return Transfer::smpte240m;
    case AVCOL_TRC_LINEAR:
        return Transfer::linear;
    case AVCOL_TRC_LOG:
        return Transfer::log100;
    case AVCOL_TRC_LOG_SQRT:
        return Transfer::log316;
    case AVCOL_TRC_IEC61966_2_4:
        return Transfer::iec61966_2_4;
    case AVCOL_TRC_BT1361_ECG:
        return Transfer::bt1361e;
    case AVCOL_TRC_IEC61966_2_1:
        return Transfer::iec61966_2_1;
    case AVCOL_TRC_BT2020_10:
        return Transfer::bt2020_10;
    case AVCOL_TRC_BT2020_12:
        return Transfer::bt2020_12;
    case AVCOL_TRC_SMPTE2084:
        return Transfer::smpte2084;
    case AVCOL_TRC_SMPTE428:
        return Transfer::smpte428;
    case AVCOL_TRC_ARIB_STD_B67:
        return Transfer::aribStdB67;
    case AVCOL_TRC_NB:
        break;
    }
    return Transfer::unspecified;
}

Matrix fromFFmpeg(AVColorSpace value) {
    switch (value) {
    case AVCOL_SPC_RGB:
        return Matrix::rgb;
    case AVCOL_SPC_BT709:
        return Matrix::bt709;
    case AVCOL_SPC_UNSPECIFIED:
        return Matrix::unspecified;
    case AVCOL_SPC_RESERVED:
        return Matrix::reserved;
    case AVCOL_SPC_FCC:
        return Matrix::fcc;
    case AVCOL_SPC_BT470BG:
        return Matrix::bt470bg;
    case AVCOL_SPC_SMPTE170M:
        return Matrix::smpte170m;
    case AVCOL_SPC_SMPTE240M:
        return Matrix::smpte240m;
    case AVCOL_SPC_YCGCO:
        return Matrix::ycgco;
    case AVCOL_SPC_BT2020_NCL:
        return Matrix::bt2020ncl;
    case AVCOL_SPC_BT2020_CL:
        return Matrix::bt2020cl;
    case AVCOL_SPC_SMPTE2085:
        return Matrix::smpte2085;
    case AVCOL_SPC_CHROMA_DERIVED_NCL:
        return Matrix::chromaDerivedNcl;
    case AVCOL_SPC_CHROMA_DERIVED_CL:
        return Matrix::chromaDerivedCl;
    case AVCOL_SPC_ICTCP:
        return Matrix::ictcp;
    case AVCOL_SPC_NB:
        break;
    }
    return Matrix::unspecified;
}

Range fromFFmpeg(AVColorRange value) {
    switch (value) {
    case AVCOL_RANGE_UNSPECIFIED:
        return Range::unspecified;
    case AVCOL_RANGE_MPEG:
        return Range::limited;
    case AVCOL_RANGE_JPEG:
        return Range::full;
    case AVCOL_RANGE_NB:
        break;
    }
    return Range::unspecified;
}

ChromaSiting fromFFmpeg(AVChromaLocation value) {
    switch (value) {
    case AVCHROMA_LOC_UNSPECIFIED:
        return ChromaSiting::unspecified;
    case AVCHROMA_LOC_LEFT:
        return ChromaSiting::left;
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
    case AVCHROMA_LOC_NB:
        break;
    }
    return ChromaSiting::unspecified;
}

bool fullRangeFormat(int format) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return true;
    default:
        return false;
    }
}

} // namespace

ColourDescription describe(const AVCodecParameters& codec) {
    return {fromFFmpeg(codec.color_primaries), fromFFmpeg(codec.color_trc),
            fromFFmpeg(codec.color_space), fromFFmpeg(codec.color_range),
            fromFFmpeg(codec.chroma_location)};
}

ColourDescription describe(const AVFrame& frame) {
    ColourDescription colour{fromFFmpeg(frame.color_primaries), fromFFmpeg(frame.color_trc),
                             fromFFmpeg(frame.colorspace), fromFFmpeg(frame.color_range),
                             fromFFmpeg(frame.chroma_location)};
    if (fullRangeFormat(frame.format))
        colour.range = Range::full;
    return colour;
}

AVColorPrimaries toFFmpeg(Primaries value) {
    switch (value) {
    case Primaries::reserved0:
        return AVCOL_PRI_RESERVED0;
    case Primaries::bt709:
        return AVCOL_PRI_BT709;
    case Primaries::unspecified:
        return AVCOL_PRI_UNSPECIFIED;
    case Primaries::reserved:
        return AVCOL_PRI_RESERVED;
    case Primaries::bt470m:
        return AVCOL_PRI_BT470M;
    case Primaries::bt470bg:
        return AVCOL_PRI_BT470BG;
    case Primaries::smpte170m:
        return AVCOL_PRI_SMPTE170M;
    case Primaries::smpte240m:
        return AVCOL_PRI_SMPTE240M;
    case Primaries::film:
        return AVCOL_PRI_FILM;
    case Primaries::bt2020:
        return AVCOL_PRI_BT2020;
    case Primaries::smpte428:
        return AVCOL_PRI_SMPTE428;
    case Primaries::smpte431:
        return AVCOL_PRI_SMPTE431;
    case Primaries::smpte432:
        return AVCOL_PRI_SMPTE432;
    case Primaries::ebu3213:
        return AVCOL_PRI_EBU3213;
    }
    return AVCOL_PRI_UNSPECIFIED;
}

AVColorTransferCharacteristic toFFmpeg(Transfer value) {
    switch (value) {
    case Transfer::reserved0:
        return AVCOL_TRC_RESERVED0;
    case Transfer::bt709:
        return AVCOL_TRC_BT709;
    case Transfer::unspecified:
        return AVCOL_TRC_UNSPECIFIED;
    case Transfer::reserved:
        return AVCOL_TRC_RESERVED;
    case Transfer::gamma22:
        return AVCOL_TRC_GAMMA22;
    case Transfer::gamma28:
        return AVCOL_TRC_GAMMA28;
    case Transfer::smpte170m:
        return AVCOL_TRC_SMPTE170M;
    case Transfer::smpte240m:
        return AVCOL_TRC_SMPTE240M;
    case Transfer::linear:
        return AVCOL_TRC_LINEAR;
    case Transfer::log100:
        return AVCOL_TRC_LOG;
    case Transfer::log316:
        return AVCOL_TRC_LOG_SQRT;
    case Transfer::iec61966_2_4:
        return AVCOL_TRC_IEC61966_2_4;
    case Transfer::bt1361e:
        return AVCOL_TRC_BT1361_ECG;
    case Transfer::iec61966_2_1:
        return AVCOL_TRC_IEC61966_2_1;
    case Transfer::bt2020_10:
        return AVCOL_TRC_BT2020_10;
    case Transfer::bt2020_12:
        return AVCOL_TRC_BT2020_12;
    case Transfer::smpte2084:
        return AVCOL_TRC_SMPTE2084;
    case Transfer::smpte428:
        return AVCOL_TRC_SMPTE428;
    case Transfer::aribStdB67:
        return AVCOL_TRC_ARIB_STD_B67;
    }
    return AVCOL_TRC_UNSPECIFIED;
}

AVColorSpace toFFmpeg(Matrix value) {
    switch (value) {
    case Matrix::rgb:
        return AVCOL_SPC_RGB;
    case Matrix::bt709:
        return AVCOL_SPC_BT709;
    case Matrix::unspecified:
        return AVCOL_SPC_UNSPECIFIED;
    case Matrix::reserved:
        return AVCOL_SPC_RESERVED;
    case Matrix::fcc:
        return AVCOL_SPC_FCC;
    case Matrix::bt470bg:
        return AVCOL_SPC_BT470BG;
    case Matrix::smpte170m:
        return AVCOL_SPC_SMPTE170M;
    case Matrix::smpte240m:
        return AVCOL_SPC_SMPTE240M;
    case Matrix::ycgco:
        return AVCOL_SPC_YCGCO;
    case Matrix::bt2020ncl:
        return AVCOL_SPC_BT2020_NCL;
    case Matrix::bt2020cl:
        return AVCOL_SPC_BT2020_CL;
    case Matrix::smpte2085:
        return AVCOL_SPC_SMPTE2085;
    case Matrix::chromaDerivedNcl:
        return AVCOL_SPC_CHROMA_DERIVED_NCL;
    case Matrix::chromaDerivedCl:
        return AVCOL_SPC_CHROMA_DERIVED_CL;
    case Matrix::ictcp:
        return AVCOL_SPC_ICTCP;
    }
    return AVCOL_SPC_UNSPECIFIED;
}

AVColorRange toFFmpeg(Range value) {
    switch (value) {
    case Range::unspecified:
        return AVCOL_RANGE_UNSPECIFIED;
    case Range::limited:
        return AVCOL_RANGE_MPEG;
    case Range::full:
        return AVCOL_RANGE_JPEG;
    }
    return AVCOL_RANGE_UNSPECIFIED;
}

AVChromaLocation toFFmpeg(ChromaSiting value) {
    switch (value) {
    case ChromaSiting::unspecified:
        return AVCHROMA_LOC_UNSPECIFIED;
    case ChromaSiting::left:
        return AVCHROMA_LOC_LEFT;
    case ChromaSiting::centre:
        return AVCHROMA_LOC_CENTER;
    case ChromaSiting::topLeft:
        return AVCHROMA_LOC_TOPLEFT;
    case ChromaSiting::top:
        return AVCHROMA_LOC_TOP;
    case ChromaSiting::bottomLeft:
        return AVCHROMA_LOC_BOTTOMLEFT;
    case ChromaSiting::bottom:
        return AVCHROMA_LOC_BOTTOM;
    }
    return AVCHROMA_LOC_UNSPECIFIED;
}

} // namespace vantrel::media
