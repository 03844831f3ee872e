#pragma once
// Opening a media file with libavformat, shared by Asset and AssetReader.

#include <filesystem>
#include <memory>
#include <string_view>

struct AVFormatContext;

namespace vantrel::media {

struct FormatContextCloser {
    void operator()(AVFormatContext* context) const noexcept;
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;

// Opens `path` as a local file and reads its stream information; throws
// MediaError with `action` (e.g. "open \"clip.mov\" as a video") when it cannot.
FormatContextPtr openInputFile(const std::filesystem::path& path, std::string_view action);

} // namespace vantrel::media
