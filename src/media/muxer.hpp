#pragma once
// The output file: one HEVC stream (sample entry `hvc1`, with a colour atom) in a
// QuickTime movie or an MPEG-4 file, and what a CopySelection takes over from the
// source (audio packets interleaved as the video goes, tags, timecode), written under a partial
// name beside the output and renamed over it only by commit(). Until then the output path is never
// touched; a muxer destroyed before commit() removes what it wrote.
//
// Threading: one thread at a time.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "media/av_ptr.hpp"
#include "media/encoder_settings.hpp"
#include "media/error.hpp"
#include "media/partial_files.hpp"
#include "media/stream_copy.hpp"

struct AVStream;

namespace vantrel::media {

class Encoder;

class Muxer {
public:
    // True for the containers whose sample description holds the parameter sets.
    static bool wantsGlobalHeader(FileType type);
    // Whether the container holds a track of FFmpeg's codec `codecName` ("aac",
    // "pcm_s16le", …) as it is; true where the library cannot tell.
    static bool holds(FileType type, std::string_view codecName);

    // Removes the partial files earlier runs left for `outputPath`, creates this
    // one's, describes the stream from the opened encoder (and the copied ones,
    // when `copy` is given) and writes the header. Throws FileError or MediaError.
    Muxer(const std::filesystem::path& outputPath, FileType type, const Encoder& encoder,
          const CopySelection* copy = nullptr);
    ~Muxer();
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    // Writes a packet whose times are in the encoder's time base, and the copied
    // packets that play up to a second past it. Throws MediaError.
    void write(AVPacket& packet);
    // Writes the copied packets left, the trailer, and closes the file. Throws MediaError, with
    // MediaFailure::noVideo when no packet was written: a movie without its
    // video is no result.
    void finish();
    // Renames the finished file over the output path (PartialFile::renameTo: synced,
    // and a file it replaces gives it its owner and permissions). Throws FileError.
    void commit();

private:
    std::filesystem::path outputPath_;
    std::unique_ptr<PartialFile> partial_;
    // Declared before the muxer, which logs into it until it is freed.
    LibraryLog log_;
    std::unique_ptr<StreamCopy> copy_;
    OutputContextPtr context_;
    AVStream* stream_ = nullptr;
    int encoderTimeBase_[2] = {0, 1}; // numerator, denominator
    std::int64_t packetsWritten_ = 0;
};

} // namespace vantrel::media
