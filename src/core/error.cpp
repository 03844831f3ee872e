#include "core/error.hpp"

#include <cstring>
#include <utility>

#include <fmt/format.h>

namespace vantrel {

Error::Error(std::string domain, long long code, std::string reason, std::string cause)
    : domain_(std::move(domain)), code_(code), reason_(std::move(reason)),
      cause_(std::move(cause)) {
    description_ = fmt::format("Error Domain={} Code={} \"{}\"", domain_, code_, reason_);
    if (!cause_.empty())
        description_ += fmt::format(" ({})", cause_);
}

FileError::FileError(int errnoValue, std::string_view action, const std::filesystem::path& path)
    : Error("file", errnoValue, fmt::format("Could not {} \"{}\".", action, path.string()),
            std::strerror(errnoValue)) {}

FileError::FileError(int errnoValue, std::string_view action, const std::filesystem::path& path,
                     std::string cause)
    : Error("file", errnoValue, fmt::format("Could not {} \"{}\".", action, path.string()),
            std::move(cause)) {}

} // namespace vantrel
