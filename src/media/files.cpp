#include "media/files.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "core/error.hpp"

namespace vantrel::media {

namespace {

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};
} // namespace

std::string readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    // Opened without blocking, so that a FIFO is refused rather than waited on.
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0)
        throw FileError(errno, "read", path);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        throw FileError(errno, "read", path);
    if (S_ISDIR(info.st_mode))
        throw FileError(EISDIR, "read", path);
    if (!S_ISREG(info.st_mode))
        throw FileError(EINVAL, "read", path,
                        fmt::format("it is {}, not a regular file", kindOf(info.st_mode)));
    ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
    std::string bytes;
    // The size is only a hint: the file may grow or shrink while it is read.
    if (info.st_size > 0)
        bytes.reserve(std::min(static_cast<std::size_t>(info.st_size), maxBytes));
    char chunk[64 * 1024];
    while (bytes.size() <= maxBytes) {
        const ssize_t n = ::read(file.fd, chunk, sizeof chunk);
        if (n == 0)
            return bytes;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FileError(errno, "read", path);
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::optional<std::int64_t> fileSize(const std::filesystem::path& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec)
        return std::nullopt;
    return static_cast<std::int64_t>(size);
}

bool fileExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

void removeFile(const std::filesystem::path& path) {
    // unlink, not remove: a folder at the path is an error, never emptied or deleted.
    if (::unlink(path.c_str()) != 0)
        throw FileError(errno, "remove", path);
}

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    const bool same = std::filesystem::equivalent(a, b, ec);
    return !ec && same;
}

void requireRegularFile(const std::filesystem::path& path, std::string_view action) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode))
        return;
    if (S_ISDIR(info.st_mode))
        throw FileError(EISDIR, action, path);
    throw FileError(EINVAL, action, path,
                    fmt::format("it is {}, not a regular file", kindOf(info.st_mode)));
}

void requireReplaceableOutput(const std::filesystem::path& path) {
    auto parent = path.parent_path();
    if (parent.empty())
        parent = ".";
    // The name is checked now, not by the final rename after the whole clip.
    long nameMax = ::pathconf(parent.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = NAME_MAX;
    if (path.filename().native().size() > static_cast<std::size_t>(nameMax))
        throw FileError(
            ENAMETOOLONG, "write", path,
            fmt::format("the name is longer than the {} bytes the folder allows", nameMax));
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return; // nothing there (or nothing we can see): the writer's folder checks decide
    if (S_ISDIR(info.st_mode))
        throw FileError(EISDIR, "replace", path);
    if (!S_ISREG(info.st_mode))
        throw FileError(EINVAL, "replace", path,
                        fmt::format("it is {}, not a regular file", kindOf(info.st_mode)));
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw FileError(EACCES, "replace", path, "the file is read-only");
    if (::access(path.c_str(), W_OK) != 0) {
        if (errno == EROFS)
            throw FileError(EROFS, "replace", path, "the file system is read-only");
        throw FileError(EACCES, "replace", path, "the file is read-only");
    }

    // The rename acts on the name itself (a link, not its target), and in a sticky
    // folder only the name's owner, the folder's owner or root may replace it.
    struct stat name {};
    struct stat folder {};
    if (::lstat(path.c_str(), &name) != 0 || ::stat(parent.c_str(), &folder) != 0)
        return;
        // A file mounted at the name cannot be renamed over.
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx mount {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &mount) == 0 &&
        (mount.stx_attributes_mask & mount.stx_attributes & STATX_ATTR_MOUNT_ROOT))
        throw FileError(EBUSY, "replace", path, "it is a mount point");
#endif
    const uid_t caller = ::geteuid();
    if ((folder.st_mode & S_ISVTX) && caller != 0 && name.st_uid != caller &&
        folder.st_uid != caller)
        throw FileError(EPERM, "replace", path,
                        "it belongs to another user in a folder where only owners may replace "
                        "their files");
}

void ensureStandardDescriptors() noexcept {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void requireWritableFolder(const std::filesystem::path& path) {
    auto folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    const auto status = std::filesystem::status(folder, ec);
    if (!std::filesystem::exists(status))
        throw FileError(ENOENT, "write into the folder", folder);
    if (!std::filesystem::is_directory(status))
        throw FileError(ENOTDIR, "write into the folder", folder);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        throw FileError(errno, "write into the folder", folder);
}

} // namespace vantrel::media
