#pragma once
// The few file-system services the engine needs, with errors as FileError.

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>

namespace vantrel::media {

// The whole file as bytes; throws FileError. Stops once it holds more than
// `maxBytes`, so that a caller with a limit learns that the file exceeds it without
// reading all of it (or reading forever from a device).
std::string readWholeFile(const std::filesystem::path& path,
                          std::size_t maxBytes = std::numeric_limits<std::size_t>::max());
// Size in bytes, or nothing when it cannot be read.
std::optional<std::int64_t> fileSize(const std::filesystem::path& path);
bool fileExists(const std::filesystem::path& path);
// Removes a file; throws FileError.
void removeFile(const std::filesystem::path& path);
// True when both paths name the same file, through links or other spellings.
// A path that does not exist names no file.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace vantrel::media
