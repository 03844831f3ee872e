#include "media/files.hpp"

#include <sys/wait.h>
#include <unistd.h>

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
    test::writeFile(dir / "copy", bytes);
    test::writeFile(dir / "empty", "");
    fs::create_hard_link(dir / "big", dir / "hard");
    EXPECT_TRUE(readWholeFile(dir / "big") == bytes && readWholeFile(dir / "empty").empty());
    // A limit stops the read soon after it is passed, also on an endless device.
    EXPECT_TRUE(readWholeFile(dir / "big", bytes.size()) == bytes);
    const auto cut = readWholeFile(dir / "big", 1000);
    EXPECT_TRUE(cut.size() > 1000 && bytes.starts_with(cut)) << cut.size();
    EXPECT_GT(readWholeFile("/dev/zero", 100'000).size(), 100'000u);
    EXPECT_EQ(fileSize(dir / "missing"), std::nullopt);
    EXPECT_FALSE(fileExists(dir / "empty" / "below a file"));
    // The copy has the same content but is another file.
    EXPECT_EQ(std::tuple(sameFile(dir / "hard", dir / "." / "big"),
                         sameFile(dir / "big", dir / "copy"),
                         sameFile(dir / "missing", dir / "missing")),
              std::tuple(true, false, false));
    const auto missing = (dir / "missing").string();
    EXPECT_THAT([&] { readWholeFile(missing); }, throwsFileError(ENOENT, "read \"" + missing));
    EXPECT_THAT([&] { readWholeFile(dir.path()); }, throwsFileError(EISDIR, "read"));
    EXPECT_THAT([&] { removeFile(missing); }, throwsFileError(ENOENT, "remove \"" + missing));
    removeFile(dir / "big");
    fs::create_directory(dir / "folder");
    EXPECT_THROW(removeFile(dir / "folder"), FileError) << "folders are never removed";
    EXPECT_EQ(test::folderEntries(dir.path()),
              (std::vector<std::string>{"copy", "empty", "folder", "hard"}));
}

// The sticky-folder check refuses exactly what the final rename would be refused:
// root may replace another user's file in that user's sticky folder; that user may
// not replace root's file in root's.
TEST(Files, ReplacingInStickyFoldersFollowsTheKernel) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to own files as two users";
    test::ScratchDir dir;
    const uid_t nobody = 65534;
    for (const bool asRoot : {true, false}) {
        const auto folder = dir / (asRoot ? "theirs" : "roots");
        fs::create_directory(folder);
        test::writeFile(folder / "out.mov", "earlier");
        test::writeFile(folder / "new", "finished");
        fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
        fs::permissions(folder / "out.mov", fs::perms::all);
        const uid_t owner = asRoot ? nobody : 0;
        ASSERT_EQ(::chown(folder.c_str(), owner, owner), 0);
        ASSERT_EQ(::chown((folder / "out.mov").c_str(), owner, owner), 0);
        ASSERT_EQ(::chown((folder / "new").c_str(), asRoot ? 0 : nobody, 0), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (!asRoot && ::setuid(nobody) != 0)
                ::_exit(9);
            bool refused = false;
            try {
                requireReplaceableOutput(folder / "out.mov");
            } catch (const FileError& error) {
                refused = error.code() == EPERM;
            }
            const bool renamed =
                ::rename((folder / "new").c_str(), (folder / "out.mov").c_str()) == 0;
            ::_exit(refused == !renamed ? 0 : 1 + renamed);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(WEXITSTATUS(status), 0) << (asRoot ? "root" : "another user");
    }
}

} // namespace
} // namespace vantrel::media
