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
struct PartialFileSlot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 listed
    char path[PATH_MAX];
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

PartialFileSlot* list(const std::filesystem::path& path) {
    const std::string& text = path.native();
    if (text.size() >= PATH_MAX)
        return nullptr;
    PartialFileSlot* slot = takeSlot();
    std::memcpy(slot->path, text.c_str(), text.size() + 1);
    slot->state = 2;
    return slot;
}

void unlist(PartialFileSlot* slot) {
    if (slot)
        slot->state = 0;
}

} // namespace

PartialFile::PartialFile(const std::filesystem::path& output) {
    const std::string prefix = prefixFor(output);
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        auto candidate = folderOf(output) / fmt::format("{}{:08x}", prefix, random());
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Held until the file is renamed or removed; a later run that can take it
            // knows that no one is writing the file any more.
            ::flock(fd, LOCK_EX);
            path_ = std::move(candidate);
            lock_ = fd;
            slot_ = list(path_);
            return;
        }
        if (errno != EEXIST || attempt == 100)
            throw FileError(errno, "create the temporary file for", output);
    }
}

PartialFile::~PartialFile() {
    if (!kept_)
        ::unlink(path_.c_str());
    // Unlisted only now: a signal in between finds a name that is gone, never a
    // file that is left.
    unlist(slot_);
    if (lock_ >= 0)
        ::close(lock_);
}

void PartialFile::renameTo(const std::filesystem::path& output) {
    if (::rename(path_.c_str(), output.c_str()) != 0)
        throw FileError(errno, "move the finished movie to", output);
    kept_ = true;
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
            ::unlink(slot->path);
}

} // namespace vantrel::media
