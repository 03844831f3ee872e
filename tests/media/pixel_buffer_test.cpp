#include "media/pixel_buffer.hpp"

#include <set>
#include <thread>

#include "media_clips.hpp"

namespace vantrel::media {
namespace {

using test::sampleAt;

// Planes are aligned and apart: after filling all, the last sample of each keeps its value.
TEST(PixelBufferPool, BuffersHoldThePictureInAlignedTenBitPlanesAndImpossibleSizesGetNone) {
    for (auto [width, height] : {std::pair{1, 1}, std::pair{65, 49}, std::pair{1920, 1080}}) {
        SCOPED_TRACE(testing::Message() << width << 'x' << height);
        PixelBufferPool pool(width, height);
        auto buffer = pool.createPixelBuffer();
        ASSERT_TRUE(buffer);
        const PictureView v = buffer->view();
        EXPECT_EQ(std::tuple(v.width, v.height, v.bitDepth, v.chromaShiftX, v.chromaShiftY,
                             v.matrix, v.range),
                  std::tuple(width, height, 10, 1, 1, YCbCrMatrix::bt709, ColourRange::full));
        test::fill(v, {940, 64, 1023});
        for (int p = 0; p < 3; ++p) {
            const int w = p ? (width + 1) / 2 : width, h = p ? (height + 1) / 2 : height;
            EXPECT_EQ(v.planes[p].stride % 64, 0);
            EXPECT_GE(v.planes[p].stride, 2 * w);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.planes[p].data) % 32, 0u);
            EXPECT_EQ(sampleAt(v, p, w - 1, h - 1), (std::array{940, 64, 1023}[p]));
        }
    }
    for (auto [width, height] : {std::pair{0, 48}, std::pair{-2, 2}, std::pair{1 << 30, 1 << 30}})
        EXPECT_FALSE(PixelBufferPool(width, height).createPixelBuffer()) << width << 'x' << height;
}

// Concurrent callers get buffers of their own, and buffers outlive the pool.
TEST(PixelBufferPool, HandsOutDistinctBuffersToConcurrentCallersThatOutliveIt) {
    constexpr int threads = 4, perThread = 8;
    std::vector<std::vector<PixelBuffer>> held(threads);
    {
        PixelBufferPool pool(64, 48);
        std::vector<std::jthread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (int i = 0; i < perThread; ++i)
                    if (auto buffer = pool.createPixelBuffer())
                        held[t].push_back(std::move(*buffer));
            });
        workers.clear();
        held[0].pop_back(); // one goes back to the pool before the pool goes
    }
    std::set<std::uint8_t*> lumaPlanes;
    for (auto& list : held)
        for (auto& buffer : list) {
            lumaPlanes.insert(buffer.view().planes[0].data);
            test::fill(buffer.view(), {1, 2, 3});
            EXPECT_EQ(sampleAt(buffer.view(), 2, 31, 23), 3);
        }
    EXPECT_EQ(lumaPlanes.size(), std::size_t{threads * perThread - 1});
    held.clear(); // the last buffer frees the pool; the sanitizer build checks this
}

} // namespace
} // namespace vantrel::media
