#pragma once
// What a graded movie takes over from its source besides the picture: the audio
// tracks, packet for packet, and the container's tags (date, place, camera,
// QuickTime `mdta` keys, start timecode). Media-internal: the Muxer owns one.
//
// Time line: the output's picture starts at 0 where the source's first frame
// was shown, so every copied packet is moved by the source video's start time;
// what the source played before its first frame keeps its place before 0 (the
// movie muxers write it as an edit, as they do AAC priming).
//
// Threading: one thread at a time (the muxer's).

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "media/av_ptr.hpp"
#include "media/error.hpp"

struct AVDictionary;
struct AVStream;

namespace vantrel::media {

// What to copy from `input`.
struct CopySelection {
    std::filesystem::path input;
    int videoStream = -1;          // the graded track, whose first frame is the output's 0
    std::vector<int> audioStreams; // indices in the input, in the order they go out
    bool metadata = false;
};

// Whether a container tag is copied: never the rotation (the picture comes out
// upright, so a copied turn would turn it twice), the source's encoder name or
// the brands the muxer writes for itself.
bool keepsTag(std::string_view key);
// The tags of `dictionary` that keepsTag keeps, in their order.
std::vector<std::pair<std::string, std::string>> keptTags(const AVDictionary* dictionary);
// The start timecode ("hh:mm:ss:ff"), from the container or from any of its
// tracks (the demuxer puts a `tmcd` track's start on it and on the video it
// serves); empty when there is none.
std::string startTimecode(const AVFormatContext& format);

class StreamCopy {
public:
    // Opens the input. Throws FileError or MediaError.
    explicit StreamCopy(const CopySelection& selection);
    ~StreamCopy();
    StreamCopy(const StreamCopy&) = delete;
    StreamCopy& operator=(const StreamCopy&) = delete;

    // Before the header: one output stream per copied track, and, when asked, the
    // container's tags and the start timecode (on `video`, which the muxers turn
    // into a timecode track). Throws MediaError.
    void describe(AVFormatContext& output, AVStream& video);
    // Writes the copied packets that start before `seconds` on the output's time
    // line (all that are left for infinity). Throws MediaError.
    void writeUntil(AVFormatContext& output, double seconds, LibraryLog& outputLog);
    // Whether describe() asked the muxer to write tags as QuickTime `mdta` keys.
    bool writesMetadata() const { return metadata_; }

private:
    bool readNext();

    // Declared first: the demuxer logs into it until it is freed.
    LibraryLog log_;
    InputContextPtr input_;
    PacketPtr packet_;
    std::vector<int> audioStreams_;
    std::vector<int> outputIndex_; // per input stream; -1 when not copied
    bool metadata_;
    bool pending_ = false; // packet_ holds a copied packet not yet written
    bool ended_ = false;
    std::int64_t videoStart_ = 0; // the source's first frame, in AV_TIME_BASE units
};

} // namespace vantrel::media
