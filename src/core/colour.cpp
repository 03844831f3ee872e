#include "core/colour.hpp"

namespace vantrel {

// FFmpeg's names, so that what `plan` prints reads as ffprobe would.
std::string_view nameOf(Primaries primaries) {
    switch (primaries) {
    case Primaries::reserved0:
    case Primaries::reserved:
        return "reserved";
    case Primaries::bt709:
        return "bt709";
    case Primaries::unspecified:
        return "unknown";
    case Primaries::bt470m:
        return "bt470m";
    case Primaries::bt470bg:
        return "bt470bg";
    case Primaries::smpte170m:
        return "smpte170m";
    case Primaries::smpte240m:
        return "smpte240m";
    case Primaries::film:
        return "film";
    case Primaries::bt2020:
        return "bt2020";
    case Primaries::smpte428:
        return "smpte428";
    case Primaries::smpte431:
        return "smpte431";
    case Primaries::smpte432:
        return "smpte432";
    case Primaries::ebu3213:
        return "ebu3213";
    }
    return "unknown";
}

std::string_view nameOf(Transfer transfer) {
    switch (transfer) {
    case Transfer::reserved0:
    case Transfer::reserved:
        return "reserved";
    case Transfer::bt709:
        return "bt709";
    case Transfer::unspecified:
        return "unknown";
    case Transfer::gamma22:
        return "bt470m";
    case Transfer::gamma28:
        return "bt470bg";
    case Transfer::smpte170m:
        return "smpte170m";
    case Transfer::smpte240m:
        return "smpte240m";
    case Transfer::linear:
        return "linear";
    case Transfer::log100:
        return "log100";
    case Transfer::log316:
        return "log316";
    case Transfer::iec61966_2_4:
        return "iec61966-2-4";
    case Transfer::bt1361e:
        return "bt1361e";
    case Transfer::iec61966_2_1:
        return "iec61966-2-1";
    case Transfer::bt2020_10:
        return "bt2020-10";
    case Transfer::bt2020_12:
        return "bt2020-12";
    case Transfer::smpte2084:
        return "smpte2084";
    case Transfer::smpte428:
        return "smpte428";
    case Transfer::aribStdB67:
        return "arib-std-b67";
    }
    return "unknown";
}

std::string_view nameOf(Matrix matrix) {
    switch (matrix) {
    case Matrix::rgb:
        return "gbr";
    case Matrix::bt709:
        return "bt709";
    case Matrix::unspecified:
        return "unknown";
    case Matrix::reserved:
        return "reserved";
    case Matrix::fcc:
        return "fcc";
    case Matrix::bt470bg:
        return "bt470bg";
    case Matrix::smpte170m:
        return "smpte170m";
    case Matrix::smpte240m:
        return "smpte240m";
    case Matrix::ycgco:
        return "ycgco";
    case Matrix::bt2020ncl:
        return "bt2020nc";
    case Matrix::bt2020cl:
        return "bt2020c";
    case Matrix::smpte2085:
        return "smpte2085";
    case Matrix::chromaDerivedNcl:
        return "chroma-derived-nc";
    case Matrix::chromaDerivedCl:
        return "chroma-derived-c";
    case Matrix::ictcp:
        return "ictcp";
    }
    return "unknown";
}

std::string_view nameOf(Range range) {
    switch (range) {
    case Range::unspecified:
        return "unknown";
    case Range::limited:
        return "tv";
    case Range::full:
        return "pc";
    }
    return "unknown";
}

std::string_view nameOf(ChromaSiting siting) {
    switch (siting) {
    case ChromaSiting::unspecified:
        return "unspecified";
    case ChromaSiting::left:
        return "left";
    case ChromaSiting::centre:
        return "center";
    case ChromaSiting::topLeft:
        return "topleft";
    case ChromaSiting::top:
        return "top";
    case ChromaSiting::bottomLeft:
        return "bottomleft";
    case ChromaSiting::bottom:
        return "bottom";
    }
    return "unspecified";
}

} // namespace vantrel
