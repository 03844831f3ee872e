#include "media/partial_files.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "core/error.hpp"

namespace vantrel::media {

// The partial files of this process, for a signal handler: a list that only
// grows, of slots that are reused and never freed, so that the handler can walk it
// without a lock while other threads add to it. States change atomically. It holds
// as many slots as partial files were ever alive at once (a batch's --jobs).
// A slot names its file relative to the folder it was made in, held open, so that
// a folder renamed meanwhile still loses the file.
struct PartialFileSlot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 listed
    int folder = -1;
    char name[NAME_MAX + 1];
    std::atomic<PartialFileSlot*> next{nullptr};
};

namespace {

constexpr std::string_view marker = ".vantrel-partial-";

// When this process began, as far as its files can tell: a partial older than
// this cannot be one of ours.
const auto processStart = std::filesystem::file_time_type::clock::now();

// FNV-1a: a short, stable tag of the output's full name, so that a shortened
// name still finds only its own partials.
std::uint32_t tagOf(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : name)
        hash = (hash ^ c) * 16777619u;
    return hash;
}

std::filesystem::path folderOf(const std::filesystem::path& output) {
    auto folder = output.parent_path();
    return folder.empty() ? "." : folder;
}

// `.<name>.vantrel-partial-<tag>-` with the name cut (on a UTF-8 character
// boundary) so that the whole name, random part included, fits the folder.
std::string prefixFor(const std::filesystem::path& output) {
    const std::string name = output.filename().string();
    const std::string tail = fmt::format("{}{:08x}-", marker, tagOf(name));
    long limit = ::pathconf(folderOf(output).c_str(), _PC_NAME_MAX);
    if (limit <= 0)
        limit = NAME_MAX;
    const auto room = static_cast<std::size_t>(limit) - 1 - tail.size() - 8;
    std::size_t keep = std::min(name.size(), room);
    while (keep > 0 && keep < name.size() && (name[keep] & 0xC0) == 0x80)
        --keep;
    return "." + name.substr(0, keep) + tail;
}

std::atomic<PartialFileSlot*> slots{nullptr};

PartialFileSlot* takeSlot() {
    for (PartialFileSlot* slot = slots.load(); slot; slot = slot->next.load()) {
        int expected = 0;
        if (slot->state.compare_exchange_strong(expected, 1))
            return slot;
    }
    auto* slot = new PartialFileSlot;
    slot->state = 1;
    PartialFileSlot* head = slots.load();
    do
        slot->next = head;
    while (!slots.compare_exchange_weak(head, slot));
    return slot;
}

PartialFileSlot* list(int folder, const std::string& name) {
    if (name.size() > NAME_MAX)
        return nullptr;
    PartialFileSlot* slot = takeSlot();
    slot->folder = folder;
    std::memcpy(slot->name, name.c_str(), name.size() + 1);
    slot->state = 2;
    return slot;
}

// Best effort: a file system that cannot sync folders has nothing to lose here.
void syncFolderOf(const std::filesystem::path& path) {
    const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void unlist(PartialFileSlot* slot) {
    if (slot)
        slot->state = 0;
}

} // namespace

PartialFile::PartialFile(const std::filesystem::path& output) {
    const std::string prefix = prefixFor(output);
    folder_ = ::open(folderOf(output).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0)
        throw FileError(errno, "create the temporary file for", output);
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        auto name = fmt::format("{}{:08x}", prefix, random());
        // Listed before it exists: a signal that lands once the file is there
        // must find it (one that lands earlier finds nothing to remove).
        PartialFileSlot* slot = list(folder_, name);
        const int fd =
            ::openat(folder_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Held until the file is renamed or removed; a later run that can take it
            // knows that no one is writing the file any more.
            ::flock(fd, LOCK_EX);
            path_ = folderOf(output) / name;
            lock_ = fd;
            slot_ = slot;
            return;
        }
        const int error = errno;
        unlist(slot);
        if (error != EEXIST || attempt == 100) {
            ::close(folder_);
            throw FileError(error, "create the temporary file for", output);
        }
    }
}

PartialFile::~PartialFile() {
    if (!kept_)
        ::unlinkat(folder_, path_.filename().c_str(), 0);
    // Unlisted only now: a signal in between finds a name that is gone, never a
    // file that is left.
    unlist(slot_);
    if (lock_ >= 0)
        ::close(lock_);
    ::close(folder_);
}

void PartialFile::renameTo(const std::filesystem::path& output) {
    // The file a user had keeps its owner, group and permissions in its new
    // version, as far as this process may give them (only root gives an owner).
    struct stat previous {};
    if (::stat(output.c_str(), &previous) == 0 && S_ISREG(previous.st_mode)) {
        if (::fchown(lock_, previous.st_uid, previous.st_gid) != 0)
            (void)::fchown(lock_, static_cast<uid_t>(-1), previous.st_gid);
        ::fchmod(lock_, previous.st_mode & 07777);
    }
    // On disk before the name moves: otherwise a power cut can leave the name on
    // an empty file and the earlier output gone.
    if (::fsync(lock_) != 0)
        throw FileError(errno, "write the finished movie to disk for", output);
    if (::renameat(folder_, path_.filename().c_str(), AT_FDCWD, output.c_str()) != 0)
        throw FileError(errno, "move the finished movie to", output);
    kept_ = true;
    syncFolderOf(output);
}

void removeStalePartialFiles(const std::filesystem::path& output) {
    const std::string prefix = prefixFor(output);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folderOf(output), ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix) || name.size() != prefix.size() + 8)
            continue;
        std::error_code ignored;
        if (!entry.is_regular_file(ignored) || entry.last_write_time(ignored) >= processStart)
            continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(entry.path().c_str());
        ::close(fd);
    }
}

void removePartialFilesNow() noexcept {
    for (PartialFileSlot* slot = slots.load(); slot; slot = slot->next.load())
        if (slot->state.load() == 2)
            ::unlinkat(slot->folder, slot->name, 0);
}

} // namespace vantrel::media
