#include "support/test_support.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <poll.h>
#include <random>
#include <regex>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vantrel::test {

ScratchDir::ScratchDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        path_ = base / ("vantrel-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(path_))
            break;
    }
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

CommandResult run(const std::string& commandLine) {
    ScratchDir dir;
    auto errPath = dir / "stderr";
    std::string full = "(" + commandLine + ") 2>" + shellQuote(errPath.string());
    CommandResult result;
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        result.out.append(chunk.data(), n);
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream err(errPath);
    std::stringstream buffer;
    buffer << err.rdbuf();
    result.err = buffer.str();
    return result;
}

Background::Background(const std::string& commandLine) : dir_(std::make_unique<ScratchDir>()) {
    const std::string full = "exec " + commandLine + " >" + shellQuote((*dir_ / "out").string()) +
                             " 2>" + shellQuote((*dir_ / "err").string());
    const char* argv[] = {"/bin/sh", "-c", full.c_str(), nullptr};
    if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        pid_ = -1;
}

Background::~Background() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

CommandResult Background::wait() {
    CommandResult result;
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_)
        return result;
    pid_ = -1;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(*dir_ / "out");
    result.err = readFile(*dir_ / "err");
    return result;
}

bool waitForChange(const std::filesystem::path& folder, const std::function<bool()>& ready,
                   int seconds) {
    const int fd = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_DELETE);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool met = ready();
    while (!met && std::chrono::steady_clock::now() < deadline) {
        pollfd events{fd, POLLIN, 0};
        if (poll(&events, 1, 1000) > 0) {
            char buffer[4096];
            [[maybe_unused]] auto n = ::read(fd, buffer, sizeof buffer);
        }
        met = ready();
    }
    ::close(fd);
    return met;
}

bool reportsError(const std::string& text, const std::string& domain, int code) {
    const std::regex pattern("Domain=" + domain + " Code=" + std::to_string(code) + "\\b|\\b" +
                             domain + " error " + std::to_string(code) + "\\b");
    return std::regex_search(text, pattern);
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

void makeClip(const std::string& args, const std::filesystem::path& output) {
    auto result =
        run("ffmpeg -nostdin -y -loglevel error " + args + " " + shellQuote(output.string()));
    if (result.exitCode != 0)
        ADD_FAILURE() << "ffmpeg failed to make " << output << ": " << result.err;
}

nlohmann::json probe(const std::filesystem::path& file, const std::string& extraArgs) {
    auto result = run("ffprobe -v error -of json -show_streams -show_format " + extraArgs + " " +
                      shellQuote(file.string()));
    if (result.exitCode != 0) {
        ADD_FAILURE() << "ffprobe failed on " << file << ": " << result.err;
        return {};
    }
    return nlohmann::json::parse(result.out);
}

} // namespace vantrel::test
