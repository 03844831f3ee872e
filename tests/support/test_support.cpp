#include "support/test_support.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>

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
