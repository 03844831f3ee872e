#pragma once
// Printing for vantrel-cli that never throws: a closed or broken stdout/stderr (a
// reader that went away, a full disk) must not end an export or a batch whose
// files are fine. Text that cannot be written is dropped.

#include <cstdio>
#include <string>
#include <utility>

#include <fmt/format.h>

namespace vantrel::cli {

inline void writeText(std::FILE* stream, const std::string& text) noexcept {
    (void)std::fwrite(text.data(), 1, text.size(), stream);
}

template <typename... Args>
void printText(std::FILE* stream, fmt::format_string<Args...> format, Args&&... args) noexcept {
    try {
        writeText(stream, fmt::format(format, std::forward<Args>(args)...));
    } catch (...) {
        // Out of memory for one line of text: nothing better to do than drop it.
    }
}

template <typename... Args>
void printText(fmt::format_string<Args...> format, Args&&... args) noexcept {
    printText(stdout, format, std::forward<Args>(args)...);
}

} // namespace vantrel::cli
