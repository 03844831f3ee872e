#pragma once
// A picture's colour description, and the formulas that read it, stated once.
//
// The enums carry the ITU-T H.273 code points (the numbers FFmpeg's
// AVColorPrimaries, AVColorTransferCharacteristic, AVColorSpace, AVColorRange
// and AVChromaLocation use), so a description is what the stream says, value
// for value; nameOf() gives FFmpeg's own name for each. What the kernels and
// the fitter compute with is resolved from it by the functions at the end of
// this file (untagged pictures get the usual guesses). No codec library here.

#include <cstdint>
#include <string_view>

namespace vantrel {

enum class Primaries : std::uint8_t {
    reserved0 = 0,
    bt709 = 1,
    unspecified = 2,
    reserved = 3,
    bt470m = 4,
    bt470bg = 5,
    smpte170m = 6,
    smpte240m = 7,
    film = 8,
    bt2020 = 9,
    smpte428 = 10,
    smpte431 = 11,
    smpte432 = 12,
    ebu3213 = 22,
};

enum class Transfer : std::uint8_t {
    reserved0 = 0,
    bt709 = 1,
    unspecified = 2,
    reserved = 3,
    gamma22 = 4,
    gamma28 = 5,
    smpte170m = 6,
    smpte240m = 7,
    linear = 8,
    log100 = 9,
    log316 = 10,
    iec61966_2_4 = 11,
    bt1361e = 12,
    iec61966_2_1 = 13,
    bt2020_10 = 14,
    bt2020_12 = 15,
    smpte2084 = 16,
    smpte428 = 17,
    aribStdB67 = 18,
};

// The Y′CbCr matrix ("colour space" in FFmpeg's words).
enum class Matrix : std::uint8_t {
    rgb = 0,
    bt709 = 1,
    unspecified = 2,
    reserved = 3,
    fcc = 4,
    bt470bg = 5,
    smpte170m = 6,
    smpte240m = 7,
    ycgco = 8,
    bt2020ncl = 9,
    bt2020cl = 10,
    smpte2085 = 11,
    chromaDerivedNcl = 12,
    chromaDerivedCl = 13,
    ictcp = 14,
};

enum class Range : std::uint8_t { unspecified = 0, limited = 1, full = 2 };

// Where subsampled chroma samples sit among the luma samples (for 4:2:0, the
// first chroma sample's position in luma pixels): left (0, ½) is the MPEG-2,
// H.264 and HEVC default (and what unspecified means), centre (½, ½) that of
// JPEG and MPEG-1, topLeft (0, 0) that of BT.2020 masters; top (½, 0),
// bottomLeft (0, 1) and bottom (½, 1) are rare. An axis without subsampling has
// no siting.
enum class ChromaSiting : std::uint8_t {
    unspecified = 0,
    left = 1,
    centre = 2,
    topLeft = 3,
    top = 4,
    bottomLeft = 5,
    bottom = 6,
};

struct ColourDescription {
    Primaries primaries = Primaries::unspecified;
    Transfer transfer = Transfer::unspecified;
    Matrix matrix = Matrix::unspecified;
    Range range = Range::unspecified;
    ChromaSiting siting = ChromaSiting::unspecified;
    friend bool operator==(const ColourDescription&, const ColourDescription&) = default;
};

// What the encoded stream is tagged with: BT.709 throughout, full range, chroma
// left-sited.
inline constexpr ColourDescription bt709Full{Primaries::bt709, Transfer::bt709, Matrix::bt709,
                                             Range::full, ChromaSiting::left};

// FFmpeg's names ("bt709", "arib-std-b67", "smpte2084", "tv", "pc", "left", …;
// "unknown" for unspecified primaries, transfer, matrix and range,
// "unspecified" for siting).
std::string_view nameOf(Primaries primaries);
std::string_view nameOf(Transfer transfer);
std::string_view nameOf(Matrix matrix);
std::string_view nameOf(Range range);
std::string_view nameOf(ChromaSiting siting);

// The eight ways to turn or mirror a picture in quarter turns.
enum class Orientation {
    up,            // identity
    upMirrored,    // mirrored left to right
    down,          // half turn
    downMirrored,  // mirrored top to bottom
    left,          // quarter turn counter-clockwise
    leftMirrored,  // transpose
    right,         // quarter turn clockwise
    rightMirrored, // transverse
};

// True when the orientation swaps width and height.
constexpr bool swapsSides(Orientation orientation) {
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

// ---- What a description resolves to -------------------------------------

// The matrix a picture `height` rows tall is read with: BT.709, BT.601
// (smpte170m) or BT.2020 (bt2020ncl). Untagged pictures, and matrices not
// modelled here, get the guess: BT.709 above standard definition (576 lines),
// BT.601 at or below it.
constexpr Matrix resolvedMatrix(Matrix tagged, int height) {
    switch (tagged) {
    case Matrix::bt709:
        return Matrix::bt709;
    case Matrix::bt470bg:
    case Matrix::smpte170m:
    case Matrix::fcc:
    // SMPTE 240M's coefficients are within a hair of BT.601's.
    case Matrix::smpte240m:
        return Matrix::smpte170m;
    case Matrix::bt2020ncl:
    case Matrix::bt2020cl:
        return Matrix::bt2020ncl;
    case Matrix::rgb:
    case Matrix::unspecified:
    case Matrix::reserved:
    case Matrix::ycgco:
    case Matrix::smpte2085:
    case Matrix::chromaDerivedNcl:
    case Matrix::chromaDerivedCl:
    case Matrix::ictcp:
        break;
    }
    return height > 576 ? Matrix::bt709 : Matrix::smpte170m;
}

// Untagged pictures are limited range.
constexpr Range resolvedRange(Range tagged) {
    return tagged == Range::full ? Range::full : Range::limited;
}

// Y′ = Kr·R′ + (1 − Kr − Kb)·G′ + Kb·B′.
struct LumaCoefficients {
    double kr;
    double kb;
};

// The coefficients of a resolved matrix (see resolvedMatrix).
constexpr LumaCoefficients lumaCoefficients(Matrix resolved) {
    switch (resolved) {
    case Matrix::smpte170m:
        return {0.299, 0.114};
    case Matrix::bt2020ncl:
        return {0.2627, 0.0593};
    default:
        return {0.2126, 0.0722};
    }
}

// How `bits`-bit codes (8 to 16) map to normalised values:
// Y′ = (code − lumaZero) / lumaSpan, Cb and Cr = (code − chromaZero) / chromaSpan.
// Limited range: black 16, white 235, chroma 128 ± 112, all scaled by
// 2^(bits − 8). Full range: code / (2^bits − 1), chroma zero at 2^(bits − 1).
struct CodeRange {
    double lumaZero;
    double lumaSpan;
    double chromaZero;
    double chromaSpan;
};

constexpr CodeRange codeRange(Range resolved, int bits) {
    const double unit = static_cast<double>(1 << (bits - 8));
    if (resolved == Range::full) {
        const double top = static_cast<double>((1 << bits) - 1);
        return {0.0, top, static_cast<double>(1 << (bits - 1)), top};
    }
    return {16.0 * unit, 219.0 * unit, 128.0 * unit, 224.0 * unit};
}

} // namespace vantrel
