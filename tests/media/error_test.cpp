#include "media/error.hpp"

#include <cerrno>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "media/av_ptr.hpp"

namespace vantrel::media {
namespace {

CodecContextPtr anyCodecContext() {
    return CodecContextPtr(avcodec_alloc_context3(nullptr));
}

// Lines logged from another thread stay with the object that logged them; they go
// into that object's next error once, never into another object's, and a line
// nobody claims is dropped rather than kept for whichever error comes next.
TEST(LibraryLog, KeepsEachLineWithTheObjectThatLoggedIt) {
    LibraryLog decoderLog, encoderLog;
    auto decoder = anyCodecContext(), encoder = anyCodecContext(), stray = anyCodecContext();
    decoderLog.attach(*decoder);
    encoderLog.attach(*encoder);

    std::thread([&] {
        av_log(decoder.get(), AV_LOG_ERROR, "bad slice header\n");
        av_log(encoder.get(), AV_LOG_WARNING, "only a warning\n");
        av_log(stray.get(), AV_LOG_ERROR, "a line nobody claims\n");
    }).join();

    const MediaError decoding(AVERROR_INVALIDDATA, "decode a picture", &decoderLog);
    EXPECT_THAT(decoding.detail(), testing::EndsWith(": bad slice header"));
    const MediaError encoding(AVERROR(EINVAL), "open the encoder", &encoderLog);
    EXPECT_THAT(encoding.detail(), testing::Not(testing::HasSubstr(":")));
    const MediaError again(AVERROR_INVALIDDATA, "decode a picture", &decoderLog);
    EXPECT_THAT(again.detail(), testing::Not(testing::HasSubstr("slice")));
    const MediaError later(AVERROR(EIO), "read the file");
    EXPECT_THAT(later.detail(), testing::Not(testing::HasSubstr("nobody")));

    // Within a scope, unclaimed lines of this thread belong to the scope's log.
    LibraryLog scoped;
    {
        const LibraryLog::Scope scope(scoped);
        av_log(stray.get(), AV_LOG_ERROR, "scaler refused\n");
    }
    EXPECT_THAT(scoped.take(), testing::HasSubstr("scaler refused"));
}

// What a person reads: domain and code, the reason, the library's words in
// brackets, then each wrapped error outer to inner; the codes a program reads stay
// apart from the library's own numbers.
TEST(Error, DescribesReasonThenDetailThenEachCause) {
    LibraryLog log;
    auto encoder = anyCodecContext();
    log.attach(*encoder);
    av_log(encoder.get(), AV_LOG_ERROR, "Image size is too small (4x2).\n");
    const MediaError opening(AVERROR(EINVAL), "open the HEVC encoder", &log);
    const Error started(ExportCode::outputNotStarted, {}, opening);
    const FileError readOnly(EACCES, "replace", "/out/a.mov", "the file is read-only");
    const struct {
        const Error& error;
        const char* domain;
        int code;
        int libraryCode;
        std::string description;
    } cases[] = {
        {opening, "media", 1, AVERROR(EINVAL),
         "media error 1: could not open the HEVC encoder (Invalid argument: Image size is too "
         "small (4x2).)"},
        {started, "export", 4, 0,
         "export error 4: the output file could not be started: could not open the HEVC encoder "
         "(Invalid argument: Image size is too small (4x2).)"},
        {readOnly, "file", EACCES, EACCES,
         "file error 13: could not replace \"/out/a.mov\" (the file is read-only)"},
        {Error(CubeCode::tooFewEntries), "cube", 2, 0,
         "cube error 2: the LUT has fewer entries than its size needs"}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.description(), c.description);
        EXPECT_STREQ(c.error.what(), c.description.c_str());
        EXPECT_EQ(c.error.domain(), c.domain);
        EXPECT_EQ(c.error.code(), c.code);
        EXPECT_EQ(c.error.libraryCode(), c.libraryCode);
    }
    ASSERT_NE(started.cause(), nullptr);
    EXPECT_TRUE(started.cause()->is(MediaCode::library));
    EXPECT_EQ(started.cause()->cause(), nullptr);
    EXPECT_TRUE(started.detail().empty()); // chained, not pasted
}

// However deep a chain is wrapped, the outermost context and the innermost words
// (what the library said) survive, and the chain stays within its limit.
TEST(Error, LongChainsKeepBothEnds) {
    Error chain(MediaCode::library, "innermost");
    for (int i = 0; i < 20; ++i)
        chain = Error(ExportCode::encodingStopped, std::to_string(i), chain);
    int links = 0;
    const Error* last = &chain;
    for (const Error* e = &chain; e; e = e->cause(), ++links)
        last = e;
    EXPECT_EQ(links, Error::maxChain);
    EXPECT_EQ(chain.detail(), "19");
    EXPECT_EQ(last->detail(), "innermost");
    EXPECT_EQ(chain.cause()->detail(), "5");
}

} // namespace
} // namespace vantrel::media
