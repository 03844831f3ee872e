#pragma once
// Helpers for the media tests: tiny clips made with ffmpeg, decoding them with
// our reader, and reading samples out of frames and fitted pictures.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/reader.hpp"
#include "support/test_support.hpp"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace vantrel::test {

// `frames` frames of the lavfi graph `graph`, encoded with `codecArgs`.
inline std::filesystem::path makeVideo(const ScratchDir& dir, const std::string& file,
                                       const std::string& graph, int frames,
                                       const std::string& codecArgs) {
    makeClip("-f lavfi -i " + shellQuote(graph) + " -frames:v " + std::to_string(frames) + " " +
                 codecArgs,
             dir / file);
    return dir / file;
}

struct DecodedClip {
    std::vector<media::DecodedSample> samples;
    media::ReaderStatus endStatus = media::ReaderStatus::unknown;
};

// Every picture of the file's first video track, through our reader.
inline DecodedClip decodeAll(const std::filesystem::path& path) {
    media::Asset asset(path);
    media::AssetReader reader(asset);
    media::AssetReaderTrackOutput output(asset.videoTracks().at(0));
    reader.addOutput(output);
    DecodedClip clip;
    EXPECT_TRUE(reader.startReading());
    while (auto sample = output.copyNextSample())
        clip.samples.push_back(std::move(*sample));
    clip.endStatus = reader.status();
    return clip;
}

// Sample x of row y of a plane with 1 or 2-byte (little-endian) samples.
inline int sampleAt(const std::uint8_t* plane, std::ptrdiff_t stride, bool wide, int x, int y) {
    const std::uint8_t* at = plane + y * stride + (wide ? 2 * x : x);
    return wide ? at[0] | at[1] << 8 : at[0];
}
inline int sampleAt(const AVFrame& frame, int plane, int x, int y) {
    const auto* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    return sampleAt(frame.data[plane], frame.linesize[plane], desc->comp[plane].depth > 8, x, y);
}
inline int sampleAt(const media::PictureView& view, int plane, int x, int y) {
    return sampleAt(view.planes[plane].data, view.planes[plane].stride, view.bitDepth > 8, x, y);
}

} // namespace vantrel::test
