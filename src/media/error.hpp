#pragma once
// Failures of the media layer, and what FFmpeg itself says about them.

#include <mutex>
#include <string>
#include <string_view>

#include "core/error.hpp"

struct AVCodecContext;
struct AVFormatContext;

namespace vantrel {

// The media failures of our own, by their old name.
using MediaFailure = MediaCode;

// Collects the error-level lines FFmpeg logs for one object (a decoder with its
// frame threads, an encoder with its own threads, a muxer) on whichever thread
// they are logged, so that the object's next failure can say what the library
// said. A line goes only to the log of the object that logged it: never to
// another object's error, and it is gone once an error has taken it.
//
// Thread-safe. A log must outlive the contexts attached to it.
class LibraryLog {
public:
    LibraryLog();
    ~LibraryLog();
    LibraryLog(const LibraryLog&) = delete;
    LibraryLog& operator=(const LibraryLog&) = delete;

    // Lines logged by the context (or its thread copies) come here. Uses the
    // context's `opaque` field.
    void attach(AVCodecContext& context);
    void attach(AVFormatContext& context);

    // The last line kept, or empty; the log is empty afterwards.
    std::string take();

    // While a Scope lives, lines logged on this thread by objects attached to no
    // log (a scaler, a demuxer being opened) go to its log. Scopes nest.
    class Scope {
    public:
        explicit Scope(LibraryLog& log);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        LibraryLog* previous_;
    };

private:
    friend struct LibraryLogSink;
    std::mutex mutex_;
    std::string last_;
};

// Routes FFmpeg's log into LibraryLogs. Nothing is printed unless VANTREL_LOG
// names a level ("error", "warning", "info", "debug"): lines at or above it are
// then also printed as FFmpeg would. Idempotent; called by the media objects
// before they use the libraries.
void captureLibraryLog();

// A failure of the media layer: domain "media", reason "could not <action>".
class MediaError : public Error {
public:
    // MediaCode::library, libraryCode the AVERROR value; the detail is av_strerror's
    // text and the last line `log` (or, without one, the log of this thread's
    // current Scope) kept.
    MediaError(int averror, std::string_view action, LibraryLog* log = nullptr);
    MediaError(MediaCode code, std::string_view action, std::string_view detail);
    // With the error that made this step fail.
    MediaError(MediaCode code, std::string_view action, std::string_view detail,
               const Error& cause);
    // A request the libraries cannot carry out: MediaCode::unsupported.
    MediaError(std::string_view action, std::string_view detail);
};

// Throws MediaError for a negative rc; returns rc otherwise. EAGAIN and EOF are
// states of the calling loop and must be tested before calling this.
int check(int rc, std::string_view action, LibraryLog* log = nullptr);

} // namespace vantrel
