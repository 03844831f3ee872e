#pragma once
// Partial files: what a writer writes before the finished file is renamed into
// place. Named so that they are recognisable and tied to their output, kept in a
// list a signal handler can reach, and locked while they are written, so that a
// later run can tell the debris of a killed one from a file still in use.

#include <cstdint>
#include <filesystem>

namespace vantrel::media {

struct PartialFileSlot;

// A partial file created beside `output`, named
//   .<output name, shortened if need be>.vantrel-partial-<output tag>-<random>
// within the folder's name-length limit, and held under an exclusive lock until
// the object goes. The name is listed for removePartialFilesNow() meanwhile. The
// folder is held open and the file named relative to it, so that a folder renamed
// meanwhile still loses the file.
class PartialFile {
public:
    // Throws FileError when it cannot be created.
    explicit PartialFile(const std::filesystem::path& output);
    ~PartialFile(); // removes the file unless it was kept
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Renames the file to `output`; throws FileError. A regular file it replaces
    // gives it its permissions, and its owner and group where this process may set
    // them. The file is synced before the rename and the folder after it, so that a
    // power cut leaves the old output or the new one, never an empty file.
    // Afterwards nothing is removed.
    void renameTo(const std::filesystem::path& output);

private:
    std::filesystem::path path_;
    int folder_ = -1; // the folder the file was made in
    int lock_ = -1;
    PartialFileSlot* slot_ = nullptr; // this file's entry in the list removePartialFilesNow() walks
    bool kept_ = false;
};

// Removes the partial files of `output` that earlier runs left behind: those
// older than this process that nobody holds open under a lock. Best effort.
void removeStalePartialFiles(const std::filesystem::path& output);

// Unlinks every partial file of this process. Async-signal-safe: for a handler
// that ends the process at once.
void removePartialFilesNow() noexcept;

} // namespace vantrel::media
