#include "media/error.hpp"

#include <cstring>

#include <fmt/format.h>

extern "C" {
#include <libavutil/error.h>
}

namespace vantrel {

Error::Error(std::string domain, long long code, std::string reason, std::string cause)
    : domain_(std::move(domain)), code_(code), reason_(std::move(reason)),
      cause_(std::move(cause)) {
    description_ = fmt::format("Error Domain={} Code={} \"{}\"", domain_, code_, reason_);
    if (!cause_.empty())
        description_ += fmt::format(" ({})", cause_);
}

namespace {
std::string averrorText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}
} // namespace

MediaError::MediaError(int averror, std::string_view action)
    : Error("media", averror, fmt::format("Could not {}.", action), averrorText(averror)) {}

MediaError::MediaError(std::string_view action, std::string_view detail)
    : Error("media", AVERROR_UNKNOWN, fmt::format("Could not {}.", action), std::string(detail)) {}

int check(int rc, std::string_view action) {
    if (rc < 0)
        throw MediaError(rc, action);
    return rc;
}

FileError::FileError(int errnoValue, std::string_view action, const std::filesystem::path& path)
    : Error("file", errnoValue, fmt::format("Could not {} \"{}\".", action, path.string()),
            std::strerror(errnoValue)) {}

} // namespace vantrel
