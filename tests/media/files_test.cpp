#include "media/files.hpp"

#include <chrono>
#include <memory>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include "core/error.hpp"
#include "media/partial_files.hpp"
#include "support/test_support.hpp"

namespace vantrel::media {
namespace {

namespace fs = std::filesystem;
using test::folderEntries;

auto throwsFileError(int code, const std::string& text) {
    return testing::Throws<FileError>(
        testing::AllOf(testing::Property(&Error::code, code),
                       testing::Property(&Error::description, testing::HasSubstr(text))));
}

TEST(Files, ReadsWholeFilesWithinTheLimitAndRefusesFifos) {
    test::ScratchDir dir;
    std::string bytes(200'003, '\0'); // longer than one read, with bytes text would stop at
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 256);
    test::writeFile(dir / "big", bytes);
    EXPECT_TRUE(readWholeFile(dir / "big", bytes.size()) == bytes);
    // A limit stops the read soon after it is passed.
    const auto cut = readWholeFile(dir / "big", 1000);
    EXPECT_TRUE(cut.size() > 1000 && bytes.starts_with(cut)) << cut.size();
    // What is not a regular file is refused unread: a FIFO would block for ever.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    EXPECT_THAT([&] { readWholeFile(dir / "fifo"); }, throwsFileError(EINVAL, "a FIFO"));
}

// Another run for the same output must only take what nobody is writing: a
// partial still held (here by a child process, as by a second export) stays,
// whatever its age; one that nobody holds and that predates us goes; partials
// of other outputs and other files stay.
TEST(PartialFiles, OnlyDebrisOfTheSameOutputIsRemoved) {
    test::ScratchDir dir;
    const auto output = dir / "out.mov";
    fs::path held, left;
    {
        PartialFile a(output);
        PartialFile b(output);
        EXPECT_TRUE(a.path().parent_path() == dir.path() &&
                    a.path().filename().string().starts_with(".out.mov.vantrel-partial-"));
        held = a.path();
        left = b.path();
        // Let b's name outlive the object, as a killed run's would.
        fs::copy_file(b.path(), dir / "b.copy");
    }
    // A child holds the lock on `held`, as another export still writing it would.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        PartialFile again(output); // same scheme, so it is locked like a live one
        fs::rename(again.path(), held);
        char c = 1;
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    fs::rename(dir / "b.copy", left);
    test::writeFile(dir / "other.mov", "");
    const auto otherPartial = dir / ".other.mov.vantrel-partial-00000000-00000000";
    test::writeFile(otherPartial, "");
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& path : {held, left, otherPartial})
        fs::last_write_time(path, old);

    removeStalePartialFiles(output); // `left` goes; `held` is a running export's
    EXPECT_EQ(folderEntries(dir.path()),
              (std::vector<std::string>{otherPartial.filename(), held.filename(), "other.mov"}));

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    // A fresh partial nobody holds may be one being created right now: kept.
    fs::last_write_time(held, fs::file_time_type::clock::now() + std::chrono::minutes(1));
    removeStalePartialFiles(output);
    EXPECT_TRUE(fs::exists(held));
    fs::last_write_time(held, old);
    removeStalePartialFiles(output);
    EXPECT_FALSE(fs::exists(held)) << "its holder is gone";
}

// A long name is cut to fit the folder's limit, never inside a UTF-8 character:
// here 3-byte ones, so a cut one byte off a boundary would split one. More
// partial files than any fixed table would hold (a batch runs up to 256 exports)
// are all listed for the signal handler's clean-up.
TEST(PartialFiles, LongNamesAreCutAtCharacterBoundariesAndEveryListedFileIsRemovedNow) {
    test::ScratchDir dir;
    std::vector<std::unique_ptr<PartialFile>> partials;
    for (int extra = 0; extra < 3; ++extra) {
        std::string name(extra, 'x');
        for (int i = 0; i < 84; ++i)
            name += "\xE2\x82\xAC"; // the euro sign
        const std::string made =
            partials.emplace_back(std::make_unique<PartialFile>(dir / name))->path().filename();
        const auto kept = made.substr(1 + extra, made.find(".vantrel-partial-") - 1 - extra);
        EXPECT_TRUE(made.size() <= 255 && kept.size() % 3 == 0 &&
                    kept == name.substr(extra, kept.size()))
            << made;
    }
    for (int i = 0; i < 300; ++i)
        partials.push_back(std::make_unique<PartialFile>(dir / ("out" + std::to_string(i))));
    partials.erase(partials.begin() + 10); // a freed slot is reused, not leaked
    partials.push_back(std::make_unique<PartialFile>(dir / "again"));
    removePartialFilesNow();
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

// The finished file takes the replaced one's owner, group and mode; a folder gone
// from under it fails the rename and leaves nothing in the folder it moved to.
TEST(PartialFiles, ReplacingKeepsOwnerAndModeAndAMovedFolderKeepsNoDebris) {
    test::ScratchDir dir;
    test::writeFile(dir / "out.mov", "earlier");
    ::chmod((dir / "out.mov").c_str(), 0640);
    const bool root = ::geteuid() == 0 && ::chown((dir / "out.mov").c_str(), 4321, 4322) == 0;
    PartialFile(dir / "out.mov").renameTo(dir / "out.mov");
    struct stat info {};
    ::stat((dir / "out.mov").c_str(), &info);
    EXPECT_TRUE((info.st_mode & 07777) == 0640 && (!root || info.st_uid + info.st_gid == 8643));
    fs::create_directory(dir / "a");
    auto moved = std::make_unique<PartialFile>(dir / "a" / "out.mov");
    fs::rename(dir / "a", dir / "b");
    EXPECT_THROW(moved->renameTo(dir / "a" / "out.mov"), FileError);
    moved.reset();
    EXPECT_TRUE(folderEntries(dir / "b").empty());
}

} // namespace
} // namespace vantrel::media
