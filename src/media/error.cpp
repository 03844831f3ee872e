#include "media/error.hpp"

#include <cstdarg>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <unordered_set>
#include <utility>

#include <fmt/format.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace vantrel {

namespace {

// The live logs: a context may log from a frame thread while its owner is
// being destroyed, so the sink checks that the log it found still exists.
std::mutex registryMutex;
std::unordered_set<LibraryLog*>& liveLogs() {
    static std::unordered_set<LibraryLog*> logs;
    return logs;
}

thread_local LibraryLog* currentLog = nullptr;

// The level from which lines are also printed; below AV_LOG_QUIET prints nothing.
int printedLevel() {
    static const int level = [] {
        const char* setting = std::getenv("VANTREL_LOG");
        const std::string_view name = setting ? setting : "";
        if (name == "debug")
            return AV_LOG_DEBUG;
        if (name == "info")
            return AV_LOG_INFO;
        if (name == "warning")
            return AV_LOG_WARNING;
        if (name == "error")
            return AV_LOG_ERROR;
        return AV_LOG_QUIET;
    }();
    return level;
}

// The log a context was attached to: codec contexts hand their `opaque` on to
// their frame-thread copies, so those lines arrive here too.
LibraryLog* ownerOf(void* context) {
    if (!context)
        return nullptr;
    const AVClass* kind = *static_cast<const AVClass**>(context);
    if (kind == avcodec_get_class())
        return static_cast<LibraryLog*>(static_cast<AVCodecContext*>(context)->opaque);
    if (kind == avformat_get_class())
        return static_cast<LibraryLog*>(static_cast<AVFormatContext*>(context)->opaque);
    return nullptr;
}

std::string averrorText(int averror, LibraryLog* log) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    std::string cause = text;
    if (!log)
        log = currentLog;
    if (log) {
        if (auto line = log->take(); !line.empty())
            cause += ": " + line;
    }
    return cause;
}

} // namespace

struct LibraryLogSink {
    static void receive(void* context, int level, const char* format, va_list arguments) {
        if (level <= printedLevel()) {
            va_list copy;
            va_copy(copy, arguments);
            av_log_default_callback(context, level, format, copy);
            va_end(copy);
        }
        if (level > AV_LOG_ERROR)
            return;
        char line[1024];
        int printPrefix = 0;
        av_log_format_line2(context, level, format, arguments, line, sizeof line, &printPrefix);
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        if (text.empty())
            return;
        LibraryLog* owner = ownerOf(context);
        std::lock_guard registry(registryMutex);
        if (!owner || !liveLogs().contains(owner))
            owner = currentLog;
        if (!owner)
            return;
        std::lock_guard lock(owner->mutex_);
        owner->last_ = std::move(text);
    }
};

LibraryLog::LibraryLog() {
    captureLibraryLog();
    std::lock_guard registry(registryMutex);
    liveLogs().insert(this);
}

LibraryLog::~LibraryLog() {
    std::lock_guard registry(registryMutex);
    liveLogs().erase(this);
}

void LibraryLog::attach(AVCodecContext& context) {
    context.opaque = this;
}

void LibraryLog::attach(AVFormatContext& context) {
    context.opaque = this;
}

std::string LibraryLog::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(last_, {});
}

LibraryLog::Scope::Scope(LibraryLog& log) : previous_(std::exchange(currentLog, &log)) {}

LibraryLog::Scope::~Scope() {
    currentLog = previous_;
}

void captureLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (printedLevel() > AV_LOG_QUIET)
            av_log_set_level(printedLevel());
        av_log_set_callback(LibraryLogSink::receive);
    });
}

MediaError::MediaError(int averror, std::string_view action, LibraryLog* log)
    : Error("media", static_cast<int>(MediaCode::library), fmt::format("could not {}", action),
            averrorText(averror, log), averror) {}

MediaError::MediaError(MediaCode code, std::string_view action, std::string_view detail)
    : Error("media", static_cast<int>(code), fmt::format("could not {}", action),
            std::string(detail)) {}

MediaError::MediaError(MediaCode code, std::string_view action, std::string_view detail,
                       const Error& cause)
    : Error("media", static_cast<int>(code), fmt::format("could not {}", action),
            std::string(detail), 0, &cause) {}

MediaError::MediaError(std::string_view action, std::string_view detail)
    : MediaError(MediaCode::unsupported, action, detail) {}

int check(int rc, std::string_view action, LibraryLog* log) {
    if (rc < 0)
        throw MediaError(rc, action, log);
    return rc;
}

} // namespace vantrel
