// Which LUT text an export uses: the override file's when it can be used, else the
// job's with a warning that names the file and the reason.

#include <string>

#include <gtest/gtest.h>

#include "exporter/exporter.hpp"
#include "support/test_support.hpp"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

TEST(LutText, OverrideWhenUsableElseTheJobsWithAWarning) {
    test::ScratchDir dir;
    const Job job(1, std::nullopt, Job::Grade("job's LUT"));
    test::writeFile(dir / "good.cube", "override \xE2\x80\xA8 text");
    test::writeFile(dir / "latin1.cube", "caf\xE9");
    fs::create_directory(dir / "folder.cube");
    // Sparse: 64 MiB and one byte of zeros, cheap to make.
    test::writeFile(dir / "huge.cube", "");
    fs::resize_file(dir / "huge.cube", maxLutFileBytes + 1);
    test::writeFile(dir / "limit.cube", "");
    fs::resize_file(dir / "limit.cube", maxLutFileBytes);
    const struct {
        std::optional<fs::path> file;
        std::string text;
        std::string warning; // a part of it; empty: none
    } cases[] = {
        {std::nullopt, "job's LUT", ""},
        {dir / "good.cube", "override \xE2\x80\xA8 text", ""},
        {dir / "limit.cube", std::string(maxLutFileBytes, '\0'), ""},
        {dir / "latin1.cube", "job's LUT", "latin1.cube\" is not UTF-8 text"},
        {dir / "folder.cube", "job's LUT", "folder.cube\" cannot be read (Is a directory)"},
        {dir / "missing.cube", "job's LUT", "cannot be read (No such file"},
        {dir / "huge.cube", "job's LUT", "is larger than 64 MiB"}};
    for (const auto& c : cases) {
        const auto resolved = Exporter::resolveLutText(c.file, job);
        EXPECT_TRUE(resolved.text == c.text) << resolved.text.substr(0, 40);
        if (c.warning.empty()) {
            EXPECT_TRUE(resolved.warnings.empty()) << resolved.warnings.front();
            continue;
        }
        ASSERT_EQ(resolved.warnings.size(), 1u);
        EXPECT_NE(resolved.warnings[0].find(c.warning), std::string::npos) << resolved.warnings[0];
        EXPECT_NE(resolved.warnings[0].find("the job's own LUT is used instead"),
                  std::string::npos);
    }
}

} // namespace
} // namespace vantrel
