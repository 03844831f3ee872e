#include "cli/error_report.hpp"

#include <cerrno>

#include <gtest/gtest.h>

namespace vantrel::cli {
namespace {

TEST(ErrorJson, GivesEachFieldAndTheCauseNested) {
    const Error error(ExportCode::inputUnreadable, {}, FileError(ENOENT, "read", "/in/a.mov"));
    EXPECT_EQ(errorJson(error), nlohmann::json::parse(R"json({"domain": "export", "code": 5,
        "reason": "the video could not be decoded", "detail": "",
        "description": "export error 5: the video could not be decoded: could not read \"/in/a.mov\" (No such file or directory)",
        "cause": {"domain": "file", "code": 2, "reason": "could not read \"/in/a.mov\"",
                  "detail": "No such file or directory", "cause": null,
                  "description": "file error 2: could not read \"/in/a.mov\" (No such file or directory)"}})json"));
}

} // namespace
} // namespace vantrel::cli
