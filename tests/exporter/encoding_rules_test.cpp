// The numbers that shape an output: frame rate, time base, sizes, bitrates, writer settings.

#include <cmath>
#include <limits>
#include <optional>

#include <gtest/gtest.h>

#include "exporter/exporter.hpp"

namespace vantrel {
namespace {

constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto int32Max = std::numeric_limits<std::int32_t>::max();

// The rules are pure: a plain stand-in answers the asset's questions.
struct FakeAsset : media::AssetQueries {
    std::vector<media::VideoTrack> tracks;
    std::vector<media::VideoTrack> videoTracks() const override { return tracks; }
    double durationSeconds() const override { return NAN; }
};

FakeAsset assetWithRate(std::optional<float> nominal) {
    FakeAsset asset;
    if (nominal)
        asset.tracks.push_back(media::VideoTrack{0, *nominal, {64, 48}, {}});
    return asset;
}

struct RateCase {
    std::optional<double> jobFps;
    std::optional<float> nominal; // nothing: no video track
    double fps;
    Timebase timebase;
    std::int64_t expectedRate;
    std::int64_t keyInterval;
};

class FrameRate : public testing::TestWithParam<RateCase> {};

TEST_P(FrameRate, ChoosesRateTimebaseAndKeyFrameInterval) {
    const auto& c = GetParam();
    const double fps = Exporter::chooseFps(assetWithRate(c.nominal), c.jobFps);
    EXPECT_EQ(fps, c.fps);
    EXPECT_EQ(Exporter::fpsToTimebase(fps), c.timebase);
    const auto settings = Exporter::makeMain10WriterSettings(64, 48, fps, std::nullopt);
    EXPECT_EQ(settings.compressionProperties.expectedSourceFrameRate, c.expectedRate);
    EXPECT_EQ(settings.compressionProperties.maxKeyFrameInterval, c.keyInterval);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FrameRate,
    testing::Values(
        RateCase{25.0, 29.97f, 25, {25, 1}, 25, 50},
        RateCase{{}, 29.97f, 29.97, {30000, 1001}, 30, 60},
        RateCase{{}, 23.976f, 23.976, {24000, 1001}, 24, 48},
        RateCase{{}, 59.94f, 59.94, {60000, 1001}, 60, 120},
        RateCase{{}, 30.0f, 29.97, {30000, 1001}, 30, 60},
        RateCase{{}, 12.5f, 13.0, {13, 1}, 13, 26}, RateCase{{}, 0.3f, 0.0, {1, 1}, 0, 1},
        RateCase{0.0, 25.0f, 25, {25, 1}, 25, 50}, RateCase{-24.0, 50.0f, 50, {50, 1}, 50, 100},
        RateCase{NAN, 24.0f, 23.976, {24000, 1001}, 24, 48},
        RateCase{{}, {}, 30.0, {30000, 1001}, 30, 60},
        RateCase{{}, 0.0f, 30.0, {30000, 1001}, 30, 60},
        RateCase{{}, NAN, 30.0, {30000, 1001}, 30, 60},
        RateCase{{}, INFINITY, 30.0, {30000, 1001}, 30, 60},
        RateCase{{}, 59.7f, 59.94, {60000, 1001}, 60, 120},
        RateCase{{}, 60.2f, 60.0, {60, 1}, 60, 120}, // widened 60.2f > 60.2
        RateCase{60.0, {}, 60.0, {60, 1}, 60, 120}, RateCase{24.0, {}, 24.0, {24000, 1001}, 24, 48},
        RateCase{1e12, {}, 1e12, {int32Max, 1}, 1'000'000'000'000, 2'000'000'000'000},
        RateCase{INFINITY, {}, INFINITY, {int32Max, 1}, int64Max, int64Max}));

TEST(Rounding, HalvesAwayFromZeroWithinInt64) {
    EXPECT_EQ(roundHalfAwayLimited(2.5), 3);
    EXPECT_EQ(roundHalfAwayLimited(-2.5), -3);
    EXPECT_EQ(roundHalfAwayLimited(0.49999999999999994), 0);
    EXPECT_EQ(roundHalfAwayLimited(9.3e18), int64Max);
    EXPECT_EQ(roundHalfAwayLimited(-INFINITY), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(roundHalfAwayLimited(NAN), 0);
    EXPECT_EQ(Exporter::fpsToTimebase(NAN), (Timebase{1, 1}));
}

TEST(OutputSizeRule, OrientsReducesAndEvens) {
    media::VideoTrack track{0, 25, {1920, 1080}, {}};
    EXPECT_EQ(orientedSize(track), (OutputSize{1920, 1080}));
    track.preferredTransform = {0, 1, -1, 0, 1080, 0}; // a quarter turn
    EXPECT_EQ(orientedSize(track), (OutputSize{1080, 1920}));
    track.naturalSize = {1920.5, 1080.4};
    EXPECT_EQ(orientedSize(track), (OutputSize{1080, 1921}));

    EXPECT_EQ(outputSize({3840, 2160}, 1920), (OutputSize{1920, 1080}));
    EXPECT_EQ(outputSize({1920, 1080}, 1001), (OutputSize{1000, 562}));
    for (std::optional<std::int64_t> unused : {std::optional<std::int64_t>{}, {1920}, {4000}, {0}})
        EXPECT_EQ(outputSize({1920, 1080}, unused), (OutputSize{1920, 1080}));
    EXPECT_EQ(outputSize({1921, 1081}, std::nullopt), (OutputSize{1921, 1081}));
    EXPECT_EQ(outputSize({4000, 10}, 3), (OutputSize{2, 2}));

    EXPECT_EQ(encodedSize({1921, 1081}), (OutputSize{1920, 1080}));
    EXPECT_EQ(encodedSize({1000, 562}), (OutputSize{1000, 562}));
    EXPECT_EQ(encodedSize({3, 1}), (OutputSize{2, 2}));
}

TEST(BitrateRule, SourceAverage) {
    EXPECT_EQ(sourceAverageBitrate(100'000'000, 40.0), 20'000'000);
    EXPECT_EQ(sourceAverageBitrate(1, 100.0), std::nullopt); // below 1 bit/s
    for (double unusable : {0.0, -1.0, double(NAN), double(INFINITY)})
        EXPECT_EQ(sourceAverageBitrate(1000, unusable), std::nullopt);
    EXPECT_EQ(sourceAverageBitrate(0, 1.0), std::nullopt);
    EXPECT_EQ(sourceAverageBitrate(std::nullopt, 1.0), std::nullopt);
    EXPECT_EQ(sourceAverageBitrate(int64Max, 1e-300), int64Max);
}

TEST(BitrateRule, ResolutionBasedAndPrecedence) {
    EXPECT_EQ(resolutionBitrate({3840, 2160}, 59.94), 120'000'000);
    EXPECT_EQ(resolutionBitrate({3840, 2160}, 29.97), 60'000'000);
    EXPECT_EQ(resolutionBitrate({1920, 1080}, 23.976), 20'000'000);
    EXPECT_EQ(resolutionBitrate({7680, 4320}, 120), 200'000'000);
    EXPECT_EQ(resolutionBitrate({1920, 1080}, NAN), 20'000'000);

    const OutputSize uhd{3840, 2160};
    EXPECT_EQ(targetBitrate(5, 0, 7, uhd, 59.94), 5);
    EXPECT_EQ(targetBitrate(std::nullopt, -3, 7, uhd, 59.94), -3);
    EXPECT_EQ(targetBitrate(std::nullopt, std::nullopt, 7, uhd, 59.94), 7);
    EXPECT_EQ(targetBitrate(std::nullopt, std::nullopt, std::nullopt, uhd, 59.94), 120'000'000);
}

TEST(WriterSettings, Main10Rec709WithLimitedBitrate) {
    auto settings = Exporter::makeMain10WriterSettings(1920, 1080, 29.97, std::nullopt);
    media::VideoSettings expected;
    expected.width = 1920;
    expected.height = 1080;
    expected.compressionProperties.expectedSourceFrameRate = 30;
    expected.compressionProperties.maxKeyFrameInterval = 60;
    EXPECT_EQ(settings, expected);
    EXPECT_EQ(settings.codec, "hevc");
    EXPECT_EQ(settings.colourProperties.yCbCrMatrix, "ITU_R_709_2");
    EXPECT_EQ(settings.compressionProperties.profileLevel, "HEVC_Main10_AutoLevel");

    struct Limit {
        std::int64_t target, average, bytes;
    };
    for (auto [target, average, bytes] :
         {Limit{0, 1'000'000, 125'000}, Limit{-9, 1'000'000, 125'000},
          Limit{20'000'007, 20'000'007, 2'500'000}, Limit{500'000'000, 400'000'000, 50'000'000}}) {
        const auto c = Exporter::makeMain10WriterSettings(64, 48, 25, target).compressionProperties;
        EXPECT_EQ(c.averageBitRate, average) << target;
        EXPECT_EQ(c.dataRateLimits, (std::array<std::int64_t, 2>{bytes, 1})) << target;
    }
}

} // namespace
} // namespace vantrel
