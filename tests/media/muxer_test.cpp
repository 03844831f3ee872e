// The encoder and the muxer on their own: what finishing an empty movie and a
// picture of the wrong size do, and that nothing is left beside the output.

#include "media/muxer.hpp"

#include <gtest/gtest.h>

#include "media/encoder.hpp"
#include "support/test_support.hpp"

namespace vantrel::media {
namespace {

TEST(Muxer, RefusesAnEmptyMovieAndAForeignPictureAndLeavesNothing) {
    test::ScratchDir dir;
    const EncoderSettings settings{
        .width = 64, .height = 48, .timescale = 25, .frameStep = 1, .preset = "ultrafast"};
    {
        Encoder encoder(settings, Muxer::wantsGlobalHeader(FileType::mov));
        Muxer muxer(dir / "empty.mov", FileType::mov, encoder);
        encoder.flush(muxer, {});
        try {
            muxer.finish();
            ADD_FAILURE() << "a movie without pictures was finished";
        } catch (const Error& error) {
            EXPECT_TRUE(error.is(MediaCode::noVideo)) << error.description();
        }
        FramePool pool(32, 48);
        Muxer other(dir / "other.mov", FileType::mp4, encoder);
        try {
            encoder.encode(*pool.acquire(), 0, other);
            ADD_FAILURE() << "a 32x48 picture went to a 64x48 encoder";
        } catch (const Error& error) {
            EXPECT_TRUE(error.is(MediaCode::wrongPicture)) << error.description();
        }
    }
    EXPECT_TRUE(test::folderEntries(dir.path()).empty());
}

} // namespace
} // namespace vantrel::media
