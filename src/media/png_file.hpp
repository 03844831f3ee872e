#pragma once
// Still pictures as 16-bit PNG files, for scripts and documentation.

#include <cstdint>
#include <filesystem>
#include <span>

namespace vantrel::media {

// Writes `rgb` (width × height pixels of R, G, B, 16 bits each, rows one after
// another) as an RGB PNG of 16 bits per channel. The file is written under a
// partial name beside `path` and renamed over it when complete, so an earlier
// file at `path` stays as it was when writing fails. Throws MediaError or
// FileError.
void writePng16(const std::filesystem::path& path, int width, int height,
                std::span<const std::uint16_t> rgb);

} // namespace vantrel::media
