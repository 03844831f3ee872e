#include "media/input_file.hpp"

#include "media/error.hpp"
#include "media/files.hpp"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace vantrel::media {

InputContextPtr openInputFile(const std::filesystem::path& path, std::string_view action,
                              LibraryLog& log) {
    // A FIFO or device would block the open, or give its bytes to only one of the
    // two openers (the asset and the reader).
    requireRegularFile(path, "read the video");
    // The "file:" prefix keeps a name such as "take:2.mov" from being read as a
    // protocol, and the white list keeps a playlist from reaching past local files.
    const std::string url = "file:" + path.string();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw MediaError(AVERROR(ENOMEM), action);
    log.attach(*raw);
    const int rc = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    check(rc, action, &log); // avformat_open_input frees the context itself on failure
    InputContextPtr context(raw);
    check(avformat_find_stream_info(context.get(), nullptr), action, &log);
    return context;
}

} // namespace vantrel::media
