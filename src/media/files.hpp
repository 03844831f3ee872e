#pragma once
// The few file-system services the engine needs, with errors as FileError.

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::media {

// The whole file as bytes; throws FileError, also for what is not a regular file
// (a FIFO or device would block or never end). Stops once it holds more than
// `maxBytes`, so that a caller with a limit learns that the file exceeds it without
// reading all of it.
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

// Throws FileError unless `path` is missing or a regular file (after links): a
// FIFO, device or socket would block a reader or could not be read twice.
void requireRegularFile(const std::filesystem::path& path, std::string_view action);
// Throws FileError unless the folder `path` would be created in exists, is a
// folder and is writable by the caller.
void requireWritableFolder(const std::filesystem::path& path);
// Throws FileError when the file at `path`, if there is one, must not be replaced
// by renaming a new file over it: not a regular file (a folder, device, FIFO or
// socket), read-only (no write permission for the caller, or no write bit at
// all, which even root respects here), or another user's file in a sticky folder,
// where the rename itself would be refused once the work is done. Also throws
// when the name is too long for its folder or a file is mounted at it, which the
// rename would find out only at the end.
void requireReplaceableOutput(const std::filesystem::path& path);

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no
// file this process opens later takes one of them and receives text meant for a
// terminal (FFmpeg's log, a warning). Call first thing in main, before threads.
void ensureStandardDescriptors() noexcept;

} // namespace vantrel::media
