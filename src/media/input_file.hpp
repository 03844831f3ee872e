#pragma once
// Opening a media file with libavformat, shared by Source and Decoder.

#include <filesystem>
#include <memory>
#include <string_view>

#include "media/av_ptr.hpp"

namespace vantrel {
class LibraryLog;
}

namespace vantrel::media {

// Opens `path` as a local file and reads its stream information; throws
// MediaError with `action` (e.g. "open \"clip.mov\" as a video") when it cannot,
// and FileError, before opening anything, when it is not a regular file.
// The context is attached to `log`.
InputContextPtr openInputFile(const std::filesystem::path& path, std::string_view action,
                              LibraryLog& log);

} // namespace vantrel::media
