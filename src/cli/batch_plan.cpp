#include "cli/batch_plan.hpp"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <system_error>

#include <fmt/format.h>

#include "core/error.hpp"
#include "exporter/exporter.hpp"

namespace vantrel::cli {

namespace fs = std::filesystem;

namespace {

struct Found {
    BatchClip clip;
    fs::path identity; // the file itself, whatever spelling led to it
};

[[noreturn]] void cannotRead(const fs::path& path, const std::error_code& error) {
    throw Error(BatchCode::unreadableInput, {}, FileError(error.value(), "read", path));
}

fs::path identityOf(const fs::path& path) {
    std::error_code error;
    auto canonical = fs::canonical(path, error);
    if (error)
        cannotRead(path, error);
    return canonical;
}

// Outputs usually do not exist yet, so only the part that does is resolved.
fs::path outputIdentityOf(const fs::path& path) {
    std::error_code error;
    auto resolved = fs::weakly_canonical(fs::absolute(path), error);
    return error ? fs::absolute(path).lexically_normal() : resolved;
}

bool hidden(const fs::path& path) {
    auto name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

bool byInput(const BatchClip& a, const BatchClip& b) {
    return a.input.native() < b.input.native();
}

void addFolder(const fs::path& folder, const fs::path& outputDir, std::vector<Found>& found) {
    std::vector<Found> inFolder;
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, error);
    if (error)
        cannotRead(folder, error);
    for (auto end = fs::recursive_directory_iterator(); walk != end; walk.increment(error)) {
        if (error)
            cannotRead(folder, error);
        const auto& entry = *walk;
        if (hidden(entry.path())) {
            walk.disable_recursion_pending();
            continue;
        }
        std::error_code typeError;
        if (!entry.is_regular_file(typeError) || !isVideoName(entry.path()))
            continue;
        auto relative = entry.path().lexically_relative(folder);
        auto output =
            outputDir / relative.parent_path() / Exporter::defaultOutputName(entry.path());
        inFolder.push_back({{entry.path(), output}, identityOf(entry.path())});
    }
    if (error)
        cannotRead(folder, error);
    // Folders list their entries in no set order; sorted, the same file reached
    // twice (through a link) is kept under the same name on every node.
    std::sort(inFolder.begin(), inFolder.end(),
              [](const Found& a, const Found& b) { return byInput(a.clip, b.clip); });
    found.insert(found.end(), inFolder.begin(), inFolder.end());
}

} // namespace

bool isVideoName(const fs::path& path) {
    auto extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return extension == ".mp4" || extension == ".mov" || extension == ".m4v";
}

std::vector<BatchClip> planBatch(const std::vector<fs::path>& inputs, const fs::path& outputDir) {
    std::vector<Found> found;
    for (const auto& input : inputs) {
        std::error_code error;
        auto status = fs::status(input, error);
        if (error || !fs::exists(status))
            cannotRead(input,
                       error ? error : std::make_error_code(std::errc::no_such_file_or_directory));
        if (fs::is_directory(status))
            addFolder(input, outputDir, found);
        else
            found.push_back(
                {{input, outputDir / Exporter::defaultOutputName(input)}, identityOf(input)});
    }

    std::set<fs::path> outputs;
    for (const auto& f : found)
        outputs.insert(outputIdentityOf(f.clip.output));

    std::set<fs::path> seen;
    std::vector<BatchClip> clips;
    for (const auto& f : found) {
        if (outputs.count(f.identity) || !seen.insert(f.identity).second)
            continue;
        clips.push_back(f.clip);
    }
    std::sort(clips.begin(), clips.end(), byInput);

    std::map<fs::path, const BatchClip*> byOutput;
    std::string collisions;
    for (const auto& clip : clips) {
        auto [at, added] = byOutput.emplace(outputIdentityOf(clip.output), &clip);
        if (!added)
            collisions += fmt::format("{}{} and {} would both be written to {}",
                                      collisions.empty() ? "" : "; ", at->second->input.string(),
                                      clip.input.string(), clip.output.string());
    }
    if (!collisions.empty())
        throw Error(BatchCode::sharedOutput, collisions);
    return clips;
}

std::optional<Shard> parseShard(std::string_view text) {
    auto slash = text.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    auto readNumber = [](std::string_view digits) -> std::optional<std::size_t> {
        if (digits.empty() ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        std::size_t value = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc() || end != digits.data() + digits.size())
            return std::nullopt;
        return value;
    };
    auto index = readNumber(text.substr(0, slash));
    auto count = readNumber(text.substr(slash + 1));
    if (!index || !count || *index >= *count)
        return std::nullopt;
    return Shard{*index, *count};
}

bool inShard(std::size_t position, Shard shard) {
    return position % shard.count == shard.index;
}

// A remainder, never a step: a count near the largest size_t must not wrap back to
// the start of the list.
std::vector<BatchClip> takeShard(const std::vector<BatchClip>& clips, Shard shard) {
    std::vector<BatchClip> taken;
    for (std::size_t i = 0; i < clips.size(); ++i)
        if (inShard(i, shard))
            taken.push_back(clips[i]);
    return taken;
}

} // namespace vantrel::cli
