#include "media/error.hpp"

#include <cstring>

#include <fmt/format.h>

#include <cstdarg>
#include <mutex>
#include <utility>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
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

thread_local std::string lastLibraryError;

void keepLibraryErrors(void* context, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR)
        return;
    char line[1024];
    int printPrefix = 0;
    av_log_format_line2(context, level, format, arguments, line, sizeof line, &printPrefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (!text.empty())
        lastLibraryError = std::move(text);
}

std::string averrorText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    std::string cause = text;
    if (!lastLibraryError.empty())
        cause += ": " + std::exchange(lastLibraryError, {});
    return cause;
}

} // namespace

void captureLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(keepLibraryErrors); });
}

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
