#pragma once
// Helpers shared by the test programs: scratch folders and running the ffmpeg
// tools that make and check test clips.

#include <concepts>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include <nlohmann/json.hpp>

namespace vantrel::test {

// A fresh empty folder, removed when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct CommandResult {
    int exitCode = -1;
    std::string out; // stdout
    std::string err; // stderr
};

// Runs a shell command line, capturing both streams.
CommandResult run(const std::string& commandLine);

// A shell command line run in the background, its output kept for wait(). Start
// it with `exec` for pid() to be the program's own. Killed if never waited for.
class Background {
public:
    explicit Background(const std::string& commandLine);
    ~Background();
    pid_t pid() const { return pid_; }
    // Waits for the end; the exit code is 128 + the signal for a killed program.
    CommandResult wait();

private:
    std::unique_ptr<ScratchDir> dir_;
    pid_t pid_ = -1;
};

// Waits until `ready()` holds, re-checking whenever an entry directly inside
// `folder` is created, written or removed. False when it still does not hold after
// `seconds`.
bool waitForChange(const std::filesystem::path& folder, const std::function<bool()>& ready,
                   int seconds = 120);

// Whether `text` reports error `code` of `domain` (in the text a user reads).
bool reportsError(const std::string& text, const std::string& domain, int code);

// Quotes text for a POSIX shell.
std::string shellQuote(const std::string& text);
template <std::same_as<std::filesystem::path> Path> std::string shellQuote(const Path& path) {
    return shellQuote(path.string());
}

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);
// The names in a folder, sorted: what a run left behind.
std::vector<std::string> folderEntries(const std::filesystem::path& folder);

// The export's hidden partial files in a folder.
std::vector<std::string> partialFiles(const std::filesystem::path& folder);

// Makes a clip with ffmpeg; `args` go between "ffmpeg -y -loglevel error" and the
// output path. Fails the calling test (ADD_FAILURE) when ffmpeg fails.
void makeClip(const std::string& args, const std::filesystem::path& output);

// `ffprobe -show_streams -show_format` (plus extra arguments) as JSON.
nlohmann::json probe(const std::filesystem::path& file, const std::string& extraArgs = "");

// The smallest identity LUT: each colour comes out as it went in.
inline const std::string identityCube =
    "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n";
// A job file grading through `cube` (by default identityCube), with `output` as its
// output preferences when given; returns the path.
std::filesystem::path writeJob(const std::filesystem::path& path,
                               const std::string& cube = identityCube,
                               const nlohmann::json& output = nullptr);

} // namespace vantrel::test
