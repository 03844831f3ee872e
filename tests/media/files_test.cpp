#include "media/files.hpp"

#include <fstream>

#include <gtest/gtest.h>

#include "media/error.hpp"
#include "support/test_support.hpp"

namespace vantrel::media {
namespace {

namespace fs = std::filesystem;

void expectFileError(const std::function<void()>& call, int code, const std::string& text) {
    try {
        call();
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code(), code);
        EXPECT_NE(e.description().find(text), std::string::npos) << e.description();
    }
}

TEST(Files, ReadSizeExist) {
    test::ScratchDir dir;
    // Longer than any single read, with bytes a text reader would stop at.
    std::string bytes(200'003, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 256);
    std::ofstream(dir / "big", std::ios::binary) << bytes;
    std::ofstream(dir / "empty");
    EXPECT_EQ(readWholeFile(dir / "big"), bytes);
    EXPECT_EQ(readWholeFile(dir / "empty"), "");
    EXPECT_EQ(fileSize(dir / "big"), 200'003);
    EXPECT_EQ(fileSize(dir / "missing"), std::nullopt);
    EXPECT_TRUE(fileExists(dir / "empty"));
    EXPECT_FALSE(fileExists(dir / "missing"));
    EXPECT_FALSE(fileExists(dir / "empty" / "below a file"));
    expectFileError([&] { readWholeFile(dir / "missing"); }, ENOENT,
                    "read \"" + (dir / "missing").string() + "\"");
    expectFileError([&] { readWholeFile(dir.path()); }, EISDIR, "read");
}

TEST(Files, RemovesFilesButNeverFolders) {
    test::ScratchDir dir;
    std::ofstream(dir / "f") << "x";
    removeFile(dir / "f");
    EXPECT_FALSE(fs::exists(dir / "f"));
    expectFileError([&] { removeFile(dir / "f"); }, ENOENT,
                    "remove \"" + (dir / "f").string() + "\"");
    fs::create_directory(dir / "folder");
    std::ofstream(dir / "folder" / "inside") << "x";
    EXPECT_THROW(removeFile(dir / "folder"), FileError);
    EXPECT_TRUE(fs::exists(dir / "folder" / "inside"));
}

TEST(Files, SameFileThroughOtherSpellingsAndLinks) {
    test::ScratchDir dir;
    const auto file = dir / "f";
    std::ofstream(file) << "x";
    std::ofstream(dir / "g") << "x";
    fs::create_directory(dir / "sub");
    fs::create_symlink(file, dir / "soft");
    fs::create_hard_link(file, dir / "hard");
    EXPECT_TRUE(sameFile(file, dir / "sub" / ".." / "." / "f"));
    EXPECT_TRUE(sameFile(dir / "soft", file));
    EXPECT_TRUE(sameFile(file, dir / "hard"));
    EXPECT_FALSE(sameFile(file, dir / "g")) << "same content, different files";
    EXPECT_FALSE(sameFile(file, dir / "missing"));
    EXPECT_FALSE(sameFile(dir / "missing", dir / "missing"));
}

} // namespace
} // namespace vantrel::media
