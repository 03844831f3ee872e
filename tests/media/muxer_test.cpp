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
    const auto code = [](auto&& step) {
        try {
            step();
        } catch (const Error& error) {
            return error.code();
        }
        return 0;
    };
    {
        Encoder encoder(
            {.width = 64, .height = 48, .timescale = 25, .frameStep = 1, .preset = "ultrafast"},
            Muxer::wantsGlobalHeader(FileType::mov));
        Muxer empty(dir / "empty.mov", FileType::mov, encoder),
            other(dir / "o.mp4", FileType::mp4, encoder);
        encoder.flush(empty, {});
        FramePool pool(32, 48); // a 32x48 picture for a 64x48 encoder
        EXPECT_EQ(std::pair(code([&] { empty.finish(); }),
                            code([&] { encoder.encode(*pool.acquire(), 0, other); })),
                  std::pair(int(MediaCode::noVideo), int(MediaCode::wrongPicture)));
    }
    EXPECT_TRUE(test::folderEntries(dir.path()).empty());
}

} // namespace
} // namespace vantrel::media
