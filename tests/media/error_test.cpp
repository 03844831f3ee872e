#include "media/error.hpp"

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "media/av_ptr.hpp"

namespace vantrel::media {
namespace {

// Lines logged from another thread stay with the object that logged them; they go
// into that object's next error once, never into another object's, and a line
// nobody claims is dropped rather than kept for whichever error comes next.
TEST(LibraryLog, KeepsEachLineWithTheObjectThatLoggedIt) {
    LibraryLog decoderLog, encoderLog;
    CodecContextPtr decoder(avcodec_alloc_context3(nullptr)),
        encoder(avcodec_alloc_context3(nullptr)), stray(avcodec_alloc_context3(nullptr));
    decoderLog.attach(*decoder);
    encoderLog.attach(*encoder);
    std::thread([&] {
        av_log(decoder.get(), AV_LOG_ERROR, "bad slice header\n");
        av_log(stray.get(), AV_LOG_ERROR, "a line nobody claims\n");
    }).join();

    const std::string invalid = "Invalid data found when processing input";
    EXPECT_EQ(MediaError(AVERROR_INVALIDDATA, "decode", &decoderLog).detail(),
              invalid + ": bad slice header");
    EXPECT_EQ(MediaError(AVERROR(EINVAL), "open the encoder", &encoderLog).detail(),
              "Invalid argument");
    EXPECT_EQ(MediaError(AVERROR_INVALIDDATA, "decode", &decoderLog).detail(), invalid);
}

// What a person reads: domain and code, the reason, the library's words in
// brackets, then each wrapped error outer to inner. However deep a chain is
// wrapped, the outermost context and the innermost words survive, within a limit.
TEST(Error, DescribesReasonThenDetailThenEachCause) {
    LibraryLog log;
    CodecContextPtr encoder(avcodec_alloc_context3(nullptr));
    log.attach(*encoder);
    av_log(encoder.get(), AV_LOG_ERROR, "Image size is too small (4x2).\n");
    const MediaError opening(AVERROR(EINVAL), "open the HEVC encoder", &log);
    const Error started(ExportCode::outputNotStarted, {}, opening);
    const FileError readOnly(EACCES, "replace", "/out/a.mov", "the file is read-only");
    const std::string encoderSaid =
        "could not open the HEVC encoder (Invalid argument: Image size is too small (4x2).)";
    EXPECT_EQ(opening.description(), "media error 1: " + encoderSaid);
    EXPECT_EQ(started.description(),
              "export error 4: the output file could not be started: " + encoderSaid);
    EXPECT_STREQ(readOnly.what(),
                 "file error 13: could not replace \"/out/a.mov\" (the file is read-only)");
    // The codes a program reads stay apart from the library's own numbers, and a
    // cause is chained, not pasted.
    EXPECT_EQ(std::pair(opening.libraryCode(), readOnly.libraryCode()),
              std::pair(AVERROR(EINVAL), EACCES));
    EXPECT_TRUE(started.is(ExportCode::outputNotStarted) && started.detail().empty());
    ASSERT_NE(started.cause(), nullptr);
    EXPECT_TRUE(started.cause()->is(MediaCode::library) && !started.cause()->cause());

    Error chain(MediaCode::library, "innermost");
    for (int i = 0; i < 20; ++i)
        chain = Error(ExportCode::encodingStopped, std::to_string(i), chain);
    std::vector<std::string> details;
    for (const Error* e = &chain; e; e = e->cause())
        details.push_back(e->detail());
    EXPECT_EQ(details, (std::vector<std::string>{"19", "5", "4", "3", "2", "1", "0", "innermost"}));
}

} // namespace
} // namespace vantrel::media
