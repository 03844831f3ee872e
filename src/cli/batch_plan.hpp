#pragma once
// Which clips a batch grades and where each output goes. Pure planning: reads
// folders, writes nothing, and gives the same list on every machine that sees the
// same files, which is what lets shards of one batch run on different nodes.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.hpp"

namespace vantrel::cli {

struct BatchClip {
    std::filesystem::path input;  // as found: the argument, or the folder joined with the rest
    std::filesystem::path output; // under the output folder
};

// "mp4", "mov" or "m4v" in any letter case: what a folder contributes.
bool isVideoName(const std::filesystem::path& path);

// The clips of `inputs` (files or folders) in their one sorted order:
// - a file is taken whatever its name and goes straight under `outputDir`;
// - a folder contributes its videos, recursively, skipping names that start with a
//   dot; each goes under `outputDir` at its path relative to that folder;
// - each output is named by Exporter::defaultOutputName;
// - a file reached twice (by two arguments, spellings or links) is planned once, as
//   first reached;
// - a file that is another clip's output is no clip (a batch written into, or below,
//   its own input folder must not grade its results on the next run).
// The list is sorted by input path, byte by byte. Throws an Error of domain "batch"
// (nothing written) when an input is missing or unreadable (BatchCode::unreadableInput,
// the file system's failure as the cause), or when two clips would be written to one
// output (BatchCode::sharedOutput, the detail naming them).
std::vector<BatchClip> planBatch(const std::vector<std::filesystem::path>& inputs,
                                 const std::filesystem::path& outputDir);

// One shard of a batch: the clips whose position is index modulo count.
struct Shard {
    std::size_t index = 0;
    std::size_t count = 1;
};

// "I/N" with decimal digits only and 0 <= I < N; nothing otherwise.
std::optional<Shard> parseShard(std::string_view text);

// Whether the clip at `position` in the plan belongs to `shard`.
bool inShard(std::size_t position, Shard shard);

std::vector<BatchClip> takeShard(const std::vector<BatchClip>& clips, Shard shard);

} // namespace vantrel::cli
