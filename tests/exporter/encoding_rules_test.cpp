// The rules that shape an output: frame rate, time base, sizes, bitrates, frame
// count, encoder settings, the default name, the typed bitrate and the LUT text used.

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "exporter/exporter.hpp"
#include "support/test_support.hpp"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto int32Max = std::numeric_limits<std::int32_t>::max();

// The rules are pure: a plain stand-in answers the source's questions.
struct FakeSource : media::SourceQueries {
    std::vector<media::VideoStream> streams;
    std::vector<media::VideoStream> videoStreams() const override { return streams; }
    double durationSeconds() const override { return NAN; }
};

double chooseFps(std::optional<double> jobFps, std::optional<float> nominal) {
    FakeSource source;
    if (nominal)
        source.streams.push_back({.frameRate = *nominal});
    return Exporter::chooseFps(source, jobFps);
}

TEST(FrameRate, ChoosesRateAndTimebase) {
    EXPECT_EQ(chooseFps(25.0, 29.97f), 25.0);
    EXPECT_EQ(chooseFps(NAN, 24.0f), 23.976);
    EXPECT_EQ(chooseFps(std::nullopt, std::nullopt), 30.0); // no video track
    // A nominal 60.2f widens to slightly above 60.2: outside the 59.94 band. Rates
    // outside the bands are kept, not rounded (12.5 would play 4 % fast as 13).
    using Nominal = std::pair<float, double>;
    for (auto [nominal, fps] :
         {Nominal{30.0f, 29.97}, Nominal{59.7f, 59.94}, Nominal{60.2f, double(60.2f)},
          Nominal{12.5f, 12.5}, Nominal{25.0004f, 25.0}, Nominal{NAN, 30.0}})
        EXPECT_EQ(chooseFps(std::nullopt, nominal), fps) << nominal;
    using Rate = std::pair<double, Timebase>;
    for (auto [fps, timebase] :
         {Rate{25, {25, 1}}, Rate{24, {24000, 1001}}, Rate{59.94, {60000, 1001}},
          Rate{12.5, {25, 2}}, Rate{14.985, {15000, 1001}}, Rate{double(0.3f), {3, 10}},
          Rate{M_PI, {355, 113}}, Rate{NAN, {1, 1}}, Rate{INFINITY, {int32Max, 1}}})
        EXPECT_EQ(Exporter::fpsToTimebase(fps), timebase) << fps;
}

TEST(OutputSizeRule, OrientsReducesAndEvens) {
    const media::VideoStream turned{.size = {1920.5, 1080.4}, .displayMatrix = {0, 1, -1, 0, 0, 0}};
    EXPECT_EQ(orientedSize(turned), (OutputSize{1080, 1921}));
    // Only the orientation of the matrix counts, never its scale.
    const media::VideoStream scaled{.size = {320, 240}, .displayMatrix = {0, 25, -25, 0, 0, 0}};
    EXPECT_EQ(orientedSize(scaled), (OutputSize{240, 320}));
    EXPECT_EQ(outputSize({3840, 2160}, 1920), (OutputSize{1920, 1080}));
    EXPECT_EQ(outputSize({1920, 1080}, 1001), (OutputSize{1000, 562}));
    for (std::optional<std::int64_t> unused : {std::optional<std::int64_t>{}, {1921}, {4000}, {0}})
        EXPECT_EQ(outputSize({1921, 1081}, unused), (OutputSize{1921, 1081}));
    EXPECT_EQ(encodedSize({1921, 1081}), (OutputSize{1920, 1080}));
}

TEST(BitrateRule, SourceAverageResolutionBasedAndPrecedence) {
    EXPECT_EQ(sourceAverageBitrate(100'000'000, 40.0), 20'000'000);
    EXPECT_EQ(sourceAverageBitrate(1, 100.0), std::nullopt); // below 1 bit/s
    for (double unusable : {0.0, -1.0, double(NAN), double(INFINITY)})
        EXPECT_EQ(sourceAverageBitrate(1000, unusable), std::nullopt);
    EXPECT_EQ(sourceAverageBitrate(int64Max, 1e-300), int64Max);
    EXPECT_EQ(resolutionBitrate({3840, 2160}, 59.94), 120'000'000);
    EXPECT_EQ(resolutionBitrate({1920, 1080}, 23.976), 20'000'000);
    EXPECT_EQ(resolutionBitrate({7680, 4320}, 120), 200'000'000);
    EXPECT_EQ(resolutionBitrate({1920, 1080}, NAN), 20'000'000);
    EXPECT_EQ(targetBitrate(5, 6, 7, {}, 0), 5);
    EXPECT_EQ(targetBitrate({}, -3, 7, {}, 0), -3);
    EXPECT_EQ(targetBitrate({}, {}, 7, {}, 0), 7);
    EXPECT_EQ(targetBitrate({}, {}, {}, {3840, 2160}, 59.94), 120'000'000);
}

// Rounded, not truncated: 0.4 s at 29.97 is 11.988 frames.
TEST(FrameCount, IsTheRoundedProduct) {
    EXPECT_EQ(expectedFrameCount(0.4, 29.97), 12);
    EXPECT_EQ(expectedFrameCount(0.4, 25), 10);
    for (double unknown : {double(NAN), double(INFINITY), 0.01})
        EXPECT_EQ(expectedFrameCount(unknown, 25), 0) << unknown;
}

TEST(EncoderSettings, KeyFramesTimeBaseAndLimitedBitrate) {
    const auto ntsc = Exporter::makeMain10WriterSettings(1920, 1080, 29.97, std::nullopt);
    EXPECT_EQ(ntsc, (media::EncoderSettings{.width = 1920,
                                            .height = 1080,
                                            .timescale = 30000,
                                            .frameStep = 1001,
                                            .keyFrameInterval = 60}));
    const auto with = [](double fps, std::optional<std::int64_t> target) {
        return Exporter::makeMain10WriterSettings(64, 48, fps, target);
    };
    EXPECT_EQ(with(0.3, {}).keyFrameInterval, 1);
    EXPECT_EQ(with(INFINITY, {}).keyFrameInterval, int64Max);
    using Limit = std::pair<std::int64_t, std::int64_t>; // asked, given
    for (auto [target, limited] :
         {Limit{0, 1'000'000}, Limit{-9, 1'000'000}, Limit{20'000'007, 20'000'007},
          Limit{500'000'000, 400'000'000}}) {
        EXPECT_EQ(with(25, target).targetBitrate, limited) << target;
        EXPECT_EQ(with(25, target).maxBitrate, limited) << target;
    }
}

TEST(DefaultOutputName, FollowsTheInputsNameAndExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/in/clip", "clip_vantrel_10bit.mov"},
        {"/in/d\u00e9j\u00e0.m4v", "d\u00e9j\u00e0_vantrel_10bit.mp4"},
        {"/in/clip.mp4/", "clip_vantrel_10bit.mp4"}};
    for (const auto& [input, name] : cases)
        EXPECT_EQ(Exporter::defaultOutputName(std::filesystem::path(input)), name) << input;
    EXPECT_EQ(Exporter::defaultOutputName(std::nullopt), "vantrel_vantrel_10bit.mov");
}

TEST(FileTypeRule, FollowsTheExtensionThenTheJob) {
    const Job mp4(1, Job::Output({}, {}, {}, "MP4"), Job::Grade("")), plain(1, {}, Job::Grade(""));
    for (const auto& [name, job, type] : {std::tuple{"a.MP4", &plain, media::FileType::mp4},
                                          {"a.m4v", &plain, media::FileType::mp4},
                                          {"c.mov", &mp4, media::FileType::mp4},
                                          {"e.avi", &plain, media::FileType::mov}})
        EXPECT_EQ(Exporter::chooseFileType(name, *job), type) << name;
}

TEST(BitrateText, GivesOverrideInBitsPerSecond) {
    using Case = std::pair<std::string, std::optional<std::int64_t>>;
    for (const auto& [text, bps] :
         {Case{"", {}}, Case{"12", 12'000'000}, Case{" 12,5 ", 12'500'000},
          Case{"1,000", 1'000'000}, Case{"1e3", 1'000'000'000}, Case{"0", {}}, Case{"12 Mbps", {}},
          Case{"nan", {}}, Case{"\u00A0\u300025\u2029", 25'000'000},
          // beyond the signed 64-bit range: saturates rather than wraps
          Case{"1e13", int64Max}})
        EXPECT_EQ(Exporter::parseBitrateOverride(text), bps) << "\"" << text << "\"";
}

TEST(LutText, OverrideWhenUsableElseTheJobsWithAWarning) {
    test::ScratchDir dir;
    const Job job(1, std::nullopt, Job::Grade("job's LUT"));
    test::writeFile(dir / "good.cube", "override \xE2\x80\xA8 text");
    test::writeFile(dir / "latin1.cube", "caf\xE9");
    fs::create_directory(dir / "folder.cube");
    // Sparse: 64 MiB and one byte of zeros, cheap to make.
    test::writeFile(dir / "huge.cube", "");
    fs::resize_file(dir / "huge.cube", maxLutFileBytes + 1);
    const struct {
        std::optional<fs::path> file;
        std::string text;
        std::string warning; // a part of it; empty: none
    } cases[] = {
        {std::nullopt, "job's LUT", ""},
        {dir / "good.cube", "override \xE2\x80\xA8 text", ""},
        {dir / "latin1.cube", "job's LUT", "latin1.cube\" is not UTF-8 text"},
        {dir / "folder.cube", "job's LUT", "folder.cube\" cannot be read (Is a directory)"},
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

// Only PQ, HLG and BT.2020 sources are called out, each by name.
TEST(SourceColour, WarnsOfWideAndHighRangeSourcesOnly) {
    auto said = [](Primaries p, Transfer t) { return sourceColourWarning({p, t}).value_or(""); };
    EXPECT_EQ(said(Primaries::bt2020, Transfer::aribStdB67),
              "the source is HLG (BT.2020); the LUT sees its values as they are and the output "
              "is tagged BT.709, so use a LUT made for HLG footage");
    EXPECT_EQ(said(Primaries::unspecified, Transfer::smpte2084).substr(0, 18) +
                  said(Primaries::bt2020, Transfer::bt2020_10).substr(0, 22) +
                  said(Primaries::bt709, Transfer::bt709) + said({}, {}),
              "the source is PQ; the source is BT.2020;");
}

} // namespace
} // namespace vantrel
