#pragma once
// How a file name or a job's container preference selects MPEG-4 over QuickTime.
// Shared by the output naming rule and the file-type choice of the run.

#include <filesystem>
#include <string>
#include <string_view>

namespace vantrel {

// "mp4" or "m4v", in any letter case. ASCII folding is enough: no other character
// folds into these letters.
inline bool namesMpeg4(std::string_view name) {
    if (name.size() != 3)
        return false;
    std::string lower(name);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower == "mp4" || lower == "m4v";
}

// The path's extension without its dot ("" when it has none).
inline std::string extensionOf(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    return extension.empty() ? extension : extension.substr(1);
}

} // namespace vantrel
