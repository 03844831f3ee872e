#include "media/input_file.hpp"

#include "media/error.hpp"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace vantrel::media {

void FormatContextCloser::operator()(AVFormatContext* context) const noexcept {
    avformat_close_input(&context);
}

FormatContextPtr openInputFile(const std::filesystem::path& path, std::string_view action) {
    captureLibraryLog();
    // The "file:" prefix keeps a name such as "take:2.mov" from being read as a
    // protocol, and the white list keeps a playlist from reaching past local files.
    const std::string url = "file:" + path.string();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* raw = nullptr;
    const int rc = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    check(rc, action); // avformat_open_input frees the context itself on failure
    FormatContextPtr context(raw);
    check(avformat_find_stream_info(context.get(), nullptr), action);
    return context;
}

} // namespace vantrel::media
