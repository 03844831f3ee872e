#include "media/video_settings.hpp"

namespace vantrel::media {

std::string_view nameOf(ColourPrimaries primaries) {
    switch (primaries) {
    case ColourPrimaries::itu709:
        return "ITU_R_709_2";
    case ColourPrimaries::p3D65:
        return "P3_D65";
    case ColourPrimaries::itu2020:
        return "ITU_R_2020";
    }
    return "?";
}

std::string_view nameOf(TransferFunction transfer) {
    switch (transfer) {
    case TransferFunction::itu709:
        return "ITU_R_709_2";
    case TransferFunction::smpteST2084PQ:
        return "SMPTE_ST_2084_PQ";
    case TransferFunction::itu2100HLG:
        return "ITU_R_2100_HLG";
    }
    return "?";
}

std::string_view nameOf(MatrixTag matrix) {
    switch (matrix) {
    case MatrixTag::itu709:
        return "ITU_R_709_2";
    case MatrixTag::itu601:
        return "ITU_R_601_4";
    case MatrixTag::itu2020:
        return "ITU_R_2020";
    }
    return "?";
}

} // namespace vantrel::media
