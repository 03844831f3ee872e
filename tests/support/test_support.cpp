#include "support/test_support.hpp"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <poll.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vantrel::test {

ScratchDir::ScratchDir() {
    std::random_device rd;
    do
        path_ = std::filesystem::temp_directory_path() / ("vantrel-test-" + std::to_string(rd()));
    while (!std::filesystem::create_directory(path_));
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A brace group rather than a subshell: a command line that starts with `exec`
// makes the program itself the process that pid() names.
Background::Background(const std::string& commandLine) : dir_(std::make_unique<ScratchDir>()) {
    const std::string full = "{ " + commandLine + "\n} >" + shellQuote(*dir_ / "out") + " 2>" +
                             shellQuote(*dir_ / "err") + " </dev/null";
    const char* argv[] = {"/bin/sh", "-c", full.c_str(), nullptr};
    if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        pid_ = -1;
}

Background::~Background() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0)
        wait();
}

CommandResult Background::wait() {
    CommandResult result;
    int status = 0;
    if (pid_ <= 0 || waitpid(std::exchange(pid_, -1), &status, 0) <= 0)
        return result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(*dir_ / "out");
    result.err = readFile(*dir_ / "err");
    return result;
}

CommandResult run(const std::string& commandLine) {
    return Background(commandLine).wait();
}

// Woken by inotify; the predicate is also checked every 20 ms, for changes the
// watch cannot see (in subfolders, or before the folder existed), which on a fast
// machine may last well under a second.
bool waitForChange(const std::filesystem::path& folder, const std::function<bool()>& ready,
                   int seconds) {
    const int fd = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_DELETE);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool met = ready();
    for (pollfd events{fd, POLLIN, 0}; !met && std::chrono::steady_clock::now() < deadline;
         met = ready()) {
        char buffer[4096];
        if (poll(&events, 1, 20) > 0 && ::read(fd, buffer, sizeof buffer) < 0)
            break;
    }
    ::close(fd);
    return met;
}

bool reportsError(const std::string& text, const std::string& domain, int code) {
    return text.find(domain + " error " + std::to_string(code) + ":") != std::string::npos;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> partialFiles(const std::filesystem::path& folder) {
    auto names = folderEntries(folder);
    std::erase_if(names, [](const auto& name) {
        return name.find(".vantrel-partial-") == std::string::npos;
    });
    return names;
}

std::filesystem::path writeJob(const std::filesystem::path& path, const std::string& cube,
                               const nlohmann::json& output) {
    nlohmann::json job = {{"version", 1}, {"grade", {{"lutCube", cube}}}};
    if (!output.is_null())
        job["output"] = output;
    writeFile(path, job.dump());
    return path;
}

void makeClip(const std::string& args, const std::filesystem::path& output) {
    auto result = run("ffmpeg -nostdin -y -loglevel error " + args + " " + shellQuote(output));
    if (result.exitCode != 0)
        ADD_FAILURE() << "ffmpeg failed to make " << output << ": " << result.err;
}

nlohmann::json probe(const std::filesystem::path& file, const std::string& extraArgs) {
    auto result = run("ffprobe -v error -of json -show_streams -show_format " + extraArgs + " " +
                      shellQuote(file));
    if (result.exitCode != 0) {
        ADD_FAILURE() << "ffprobe failed on " << file << ": " << result.err;
        return {};
    }
    return nlohmann::json::parse(result.out);
}

} // namespace vantrel::test
