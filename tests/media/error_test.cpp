#include "media/error.hpp"

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
    EXPECT_THAT(decoding.cause(), testing::EndsWith(": bad slice header"));
    const MediaError encoding(AVERROR(EINVAL), "open the encoder", &encoderLog);
    EXPECT_THAT(encoding.cause(), testing::Not(testing::HasSubstr(":")));
    const MediaError again(AVERROR_INVALIDDATA, "decode a picture", &decoderLog);
    EXPECT_THAT(again.cause(), testing::Not(testing::HasSubstr("slice")));
    const MediaError later(AVERROR(EIO), "read the file");
    EXPECT_THAT(later.cause(), testing::Not(testing::HasSubstr("nobody")));

    // Within a scope, unclaimed lines of this thread belong to the scope's log.
    LibraryLog scoped;
    {
        const LibraryLog::Scope scope(scoped);
        av_log(stray.get(), AV_LOG_ERROR, "scaler refused\n");
    }
    EXPECT_THAT(scoped.take(), testing::HasSubstr("scaler refused"));
}

} // namespace
} // namespace vantrel::media
