#include "media/files.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/error.hpp"

namespace vantrel::media {

namespace {
struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};
} // namespace

std::string readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0)
        throw FileError(errno, "read", path);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        throw FileError(errno, "read", path);
    std::string bytes;
    // The size is only a hint: the file may grow or shrink while it is read, and
    // special files report none.
    if (S_ISREG(info.st_mode) && info.st_size > 0)
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

} // namespace vantrel::media
