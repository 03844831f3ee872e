#include "media/files.hpp"

#include <gmock/gmock.h>

#include "core/error.hpp"
#include "support/test_support.hpp"

namespace vantrel::media {
namespace {

namespace fs = std::filesystem;

auto throwsFileError(int code, const std::string& text) {
    return testing::Throws<FileError>(
        testing::AllOf(testing::Property(&Error::code, code),
                       testing::Property(&Error::description, testing::HasSubstr(text))));
}

TEST(Files, ReadSizeExistSameRemove) {
    test::ScratchDir dir;
    std::string bytes(200'003, '\0'); // longer than one read, with bytes text would stop at
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 256);
    test::writeFile(dir / "big", bytes);
    test::writeFile(dir / "empty", "");
    EXPECT_EQ(readWholeFile(dir / "big"), bytes);
    EXPECT_EQ(readWholeFile(dir / "empty"), "");
    // A limit stops the read soon after it is passed, also on an endless device.
    EXPECT_EQ(readWholeFile(dir / "big", bytes.size()), bytes);
    const auto cut = readWholeFile(dir / "big", 1000);
    EXPECT_GT(cut.size(), 1000u);
    EXPECT_EQ(cut, bytes.substr(0, cut.size()));
    EXPECT_GT(readWholeFile("/dev/zero", 100'000).size(), 100'000u);
    EXPECT_EQ(fileSize(dir / "missing"), std::nullopt);
    EXPECT_FALSE(fileExists(dir / "empty" / "below a file"));
    fs::create_hard_link(dir / "big", dir / "hard");
    test::writeFile(dir / "copy", bytes);
    EXPECT_TRUE(sameFile(dir / "hard", dir / "." / "big"));
    EXPECT_FALSE(sameFile(dir / "big", dir / "copy")) << "same content, different files";
    EXPECT_FALSE(sameFile(dir / "missing", dir / "missing"));
    const auto missing = (dir / "missing").string();
    EXPECT_THAT([&] { readWholeFile(missing); }, throwsFileError(ENOENT, "read \"" + missing));
    EXPECT_THAT([&] { readWholeFile(dir.path()); }, throwsFileError(EISDIR, "read"));
    EXPECT_THAT([&] { removeFile(missing); }, throwsFileError(ENOENT, "remove \"" + missing));
    removeFile(dir / "big");
    EXPECT_FALSE(fs::exists(dir / "big"));
    fs::create_directory(dir / "folder");
    test::writeFile(dir / "folder" / "inside", "x");
    EXPECT_THROW(removeFile(dir / "folder"), FileError) << "folders are never removed";
    EXPECT_TRUE(fs::exists(dir / "folder" / "inside"));
}

} // namespace
} // namespace vantrel::media
