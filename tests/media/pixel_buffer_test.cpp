#include "media/pixel_buffer.hpp"

#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

namespace vantrel::media {
namespace {

// Fills every sample the view claims to have; a plane that is too small for its
// stride and rows shows up under the address sanitizer.
void fill(const PictureView& view, std::uint16_t y, std::uint16_t cb, std::uint16_t cr) {
    const std::uint16_t values[3] = {y, cb, cr};
    for (int p = 0; p < 3; ++p) {
        const int w = p == 0 ? view.width : (view.width + 1) >> view.chromaShiftX;
        const int h = p == 0 ? view.height : (view.height + 1) >> view.chromaShiftY;
        for (int row = 0; row < h; ++row) {
            auto* samples =
                reinterpret_cast<std::uint16_t*>(view.planes[p].data + row * view.planes[p].stride);
            for (int x = 0; x < w; ++x)
                samples[x] = values[p];
        }
    }
}

std::uint16_t sampleAt(const PictureView& view, int plane, int x, int row) {
    std::uint16_t value;
    std::memcpy(&value, view.planes[plane].data + row * view.planes[plane].stride + 2 * x,
                sizeof value);
    return value;
}

class PoolSizes : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(PoolSizes, BuffersAreTenBitFullRangeBt709WithAlignedRowsThatHoldThePicture) {
    const auto [width, height] = GetParam();
    PixelBufferPool pool(width, height);
    auto buffer = pool.createPixelBuffer();
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->width(), width);
    EXPECT_EQ(buffer->height(), height);

    const PictureView view = buffer->view();
    EXPECT_EQ(view.width, width);
    EXPECT_EQ(view.height, height);
    EXPECT_EQ(view.bitDepth, 10);
    EXPECT_EQ(view.chromaShiftX, 1);
    EXPECT_EQ(view.chromaShiftY, 1);
    EXPECT_EQ(view.matrix, YCbCrMatrix::bt709);
    EXPECT_EQ(view.range, ColourRange::full);
    const int chromaWidth = (width + 1) / 2;
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(view.planes[p].stride % 64, 0) << "plane " << p;
        EXPECT_GE(view.planes[p].stride, 2 * (p == 0 ? width : chromaWidth)) << "plane " << p;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(view.planes[p].data) % 32, 0u);
    }

    // Planes must not overlap: fill all, then the last row of each keeps its value.
    fill(view, 940, 64, 1023);
    const int lastChromaRow = (height + 1) / 2 - 1;
    EXPECT_EQ(sampleAt(view, 0, width - 1, height - 1), 940);
    EXPECT_EQ(sampleAt(view, 1, chromaWidth - 1, lastChromaRow), 64);
    EXPECT_EQ(sampleAt(view, 2, chromaWidth - 1, lastChromaRow), 1023);

    const AVFrame& frame = *buffer->frame();
    EXPECT_EQ(frame.format, AV_PIX_FMT_YUV420P10LE);
    EXPECT_EQ(frame.color_range, AVCOL_RANGE_JPEG);
    EXPECT_EQ(frame.colorspace, AVCOL_SPC_BT709);
    EXPECT_EQ(frame.color_primaries, AVCOL_PRI_BT709);
    EXPECT_EQ(frame.color_trc, AVCOL_TRC_BT709);
}

INSTANTIATE_TEST_SUITE_P(PixelBufferPool, PoolSizes,
                         testing::Values(std::pair{64, 48}, std::pair{2, 2}, std::pair{65, 49},
                                         std::pair{1, 1}, std::pair{1920, 1080}));

TEST(PixelBufferPool, ReleasedBufferMemoryIsHandedOutAgain) {
    PixelBufferPool pool(64, 48);
    std::uint8_t* first[3];
    {
        auto buffer = pool.createPixelBuffer();
        ASSERT_TRUE(buffer);
        for (int p = 0; p < 3; ++p)
            first[p] = buffer->view().planes[p].data;
    }
    auto again = pool.createPixelBuffer();
    ASSERT_TRUE(again);
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(again->view().planes[p].data, first[p]) << "plane " << p;

    // While the first is held, the next one gets memory of its own.
    auto other = pool.createPixelBuffer();
    ASSERT_TRUE(other);
    for (int p = 0; p < 3; ++p)
        EXPECT_NE(other->view().planes[p].data, first[p]) << "plane " << p;
}

TEST(PixelBufferPool, BuffersOutlivingThePoolStayUsable) {
    std::vector<PixelBuffer> kept;
    {
        PixelBufferPool pool(64, 48);
        for (int i = 0; i < 3; ++i) {
            auto buffer = pool.createPixelBuffer();
            ASSERT_TRUE(buffer);
            kept.push_back(std::move(*buffer));
        }
        kept.erase(kept.begin()); // one goes back to the pool before the pool goes
    }
    for (auto& buffer : kept) {
        fill(buffer.view(), 1, 2, 3);
        EXPECT_EQ(sampleAt(buffer.view(), 2, 31, 23), 3);
    }
    kept.clear(); // the last buffer frees the pool; the sanitizer build checks this
}

TEST(PixelBufferPool, HandsOutDistinctBuffersToConcurrentCallers) {
    PixelBufferPool pool(64, 48);
    constexpr int threads = 4, perThread = 8;
    std::vector<std::vector<PixelBuffer>> held(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                if (auto buffer = pool.createPixelBuffer())
                    held[t].push_back(std::move(*buffer));
            }
        });
    }
    for (auto& w : workers)
        w.join();
    std::set<std::uint8_t*> lumaPlanes;
    for (auto& list : held) {
        EXPECT_EQ(list.size(), std::size_t{perThread});
        for (auto& buffer : list)
            lumaPlanes.insert(buffer.view().planes[0].data);
    }
    EXPECT_EQ(lumaPlanes.size(), std::size_t{threads * perThread});
}

TEST(PixelBufferPool, ASizeNoPictureCanHaveGivesNoBuffers) {
    for (auto [width, height] :
         {std::pair{0, 48}, std::pair{64, 0}, std::pair{-2, 2}, std::pair{1 << 30, 1 << 30}}) {
        PixelBufferPool pool(width, height);
        EXPECT_FALSE(pool.createPixelBuffer()) << width << "x" << height;
    }
}

} // namespace
} // namespace vantrel::media
