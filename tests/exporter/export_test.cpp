// Whole exports of tiny clips made here, checked with ffprobe and by decoding the
// output with ffmpeg: an independent reader for every claim about the file.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "exporter/exporter.hpp"
#include "support/test_support.hpp"

namespace vantrel {
namespace {

using test::makeClip;
using test::probe;
using test::run;
using test::ScratchDir;
using test::shellQuote;
namespace fs = std::filesystem;

using Rgb = std::array<double, 3>;

std::string cubeText(int n, const std::function<Rgb(Rgb)>& look) {
    std::string text = "LUT_3D_SIZE " + std::to_string(n) + "\n";
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                auto out = look({r / double(n - 1), g / double(n - 1), b / double(n - 1)});
                text += std::to_string(out[0]) + " " + std::to_string(out[1]) + " " +
                        std::to_string(out[2]) + "\n";
            }
    return text;
}

Rgb identity(Rgb c) {
    return c;
}
Rgb invert(Rgb c) {
    return {1 - c[0], 1 - c[1], 1 - c[2]};
}
Rgb rotateChannels(Rgb c) {
    return {c[1], c[2], c[0]};
} // red takes green, green blue, blue red

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

fs::path writeJob(const fs::path& path, const std::string& cube,
                  const nlohmann::json& output = nullptr) {
    nlohmann::json job = {{"version", 1}, {"grade", {{"lutCube", cube}}}};
    if (!output.is_null())
        job["output"] = output;
    writeFile(path, job.dump());
    return path;
}

// Leftovers beside an output: anything but the files a test put there itself.
std::vector<std::string> folderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const nlohmann::json& videoStream(const nlohmann::json& info) {
    for (const auto& s : info["streams"])
        if (s["codec_type"] == "video")
            return s;
    static const nlohmann::json none;
    ADD_FAILURE() << "no video stream";
    return none;
}

std::vector<std::string> packetTimes(const fs::path& file) {
    auto info = probe(file, "-select_streams v -show_entries packet=pts_time");
    std::vector<std::string> times;
    for (const auto& p : info["packets"])
        times.push_back(p["pts_time"]);
    std::sort(times.begin(), times.end(), [](const std::string& a, const std::string& b) {
        return std::stod(a) < std::stod(b);
    });
    return times;
}

// The first frame of a file as 10-bit 4:2:0 samples (Y plane, then Cb, then Cr),
// decoded by ffmpeg with its own rotation handling.
std::vector<std::uint16_t> firstFrame10(const fs::path& file) {
    auto result = run("ffmpeg -nostdin -v error -i " + shellQuote(file.string()) +
                      " -frames:v 1 -f rawvideo -pix_fmt yuv420p10le -");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::uint16_t> samples(result.out.size() / 2);
    std::memcpy(samples.data(), result.out.data(), samples.size() * 2);
    return samples;
}

// Raw 8-bit 4:4:4 frames of one flat Y′CbCr colour, wrapped losslessly in a
// limited-range BT.709-tagged file.
fs::path flatClip(const ScratchDir& dir, const std::string& name, int y, int cb, int cr,
                  int frames = 3) {
    auto raw = dir / (name + ".yuv");
    std::string bytes;
    for (int f = 0; f < frames; ++f)
        for (int value : {y, cb, cr})
            bytes.append(64 * 48, static_cast<char>(value));
    writeFile(raw, bytes);
    auto clip = dir / (name + ".mkv");
    makeClip(
        "-f rawvideo -pix_fmt yuv444p -s 64x48 -r 25 -i " + shellQuote(raw.string()) +
            " -c:v ffv1 -color_range tv -colorspace bt709 -color_primaries bt709 -color_trc bt709",
        clip);
    return clip;
}

struct YCbCr {
    double y, cb, cr;
};

// What a flat limited-range BT.709 8-bit colour becomes after the cube, in
// full-range BT.709 10-bit codes.
YCbCr expectedCodes(int y8, int cb8, int cr8, Rgb (*look)(Rgb)) {
    const double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
    double y = (y8 - 16) / 219.0, cb = (cb8 - 128) / 224.0, cr = (cr8 - 128) / 224.0;
    Rgb rgb = {y + 2 * (1 - kr) * cr, y - 2 * kb * (1 - kb) / kg * cb - 2 * kr * (1 - kr) / kg * cr,
               y + 2 * (1 - kb) * cb};
    for (auto& c : rgb)
        c = std::clamp(c, 0.0, 1.0);
    rgb = look(rgb);
    double yo = kr * rgb[0] + kg * rgb[1] + kb * rgb[2];
    return {1023 * yo, 512 + 1023 * (rgb[2] - yo) / (2 * (1 - kb)),
            512 + 1023 * (rgb[0] - yo) / (2 * (1 - kr))};
}

ExportOptions fast() {
    ExportOptions options;
    options.preset = "ultrafast";
    return options;
}

constexpr std::int64_t highBitrate = 50'000'000;

class ExportTest : public ::testing::Test {
protected:
    ScratchDir dir;
    fs::path identityJob = writeJob(dir / "identity.json", cubeText(2, identity));

    fs::path clipWithAudio(const std::string& name = "clip.mp4") {
        auto clip = dir / name;
        makeClip(
            "-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.4 -f lavfi -i "
            "sine=duration=0.4 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest",
            clip);
        return clip;
    }
};

TEST_F(ExportTest, WritesTaggedMain10VideoOnlyAtConstantTimes) {
    auto clip = clipWithAudio();
    auto out = dir / "out.mov";
    auto result = Exporter::exportVideo(identityJob, std::nullopt, clip, out, std::nullopt, fast());
    EXPECT_EQ(result.outputURL, out);
    EXPECT_EQ(result.fps, 25.0);
    EXPECT_EQ(result.width, 64);
    EXPECT_EQ(result.height, 48);

    auto info = probe(out, "-count_frames");
    ASSERT_EQ(info["streams"].size(), 1u) << "audio must not be copied";
    const auto& v = videoStream(info);
    EXPECT_EQ(v["codec_name"], "hevc");
    EXPECT_EQ(v["profile"], "Main 10");
    EXPECT_EQ(v["pix_fmt"], "yuv420p10le");
    EXPECT_EQ(v["codec_tag_string"], "hvc1");
    EXPECT_EQ(v["color_range"], "pc");
    EXPECT_EQ(v["color_space"], "bt709");
    EXPECT_EQ(v["color_transfer"], "bt709");
    EXPECT_EQ(v["color_primaries"], "bt709");
    EXPECT_EQ(v["width"], 64);
    EXPECT_EQ(v["height"], 48);
    EXPECT_EQ(v["nb_read_frames"], "10");
    EXPECT_EQ(info["format"]["tags"]["major_brand"], "qt  ");

    auto times = packetTimes(out);
    ASSERT_EQ(times.size(), 10u);
    for (std::size_t n = 0; n < times.size(); ++n)
        EXPECT_NEAR(std::stod(times[n]), n / 25.0, 1e-6) << "frame " << n;
    EXPECT_EQ(folderEntries(dir.path()),
              (std::vector<std::string>{"clip.mp4", "identity.json", "out.mov"}));
}

TEST_F(ExportTest, ContainerFollowsExtensionThenJob) {
    auto clip = clipWithAudio();
    auto mp4Job = writeJob(dir / "mp4.json", cubeText(2, identity), {{"container", "MP4"}});
    struct Case {
        fs::path job;
        std::string name;
        std::string brand;
    } cases[] = {
        {identityJob, "a.MP4", "isom"}, {identityJob, "b.m4v", "isom"},
        {mp4Job, "c.mov", "isom"}, // MPEG-4 data under a .mov name
        {identityJob, "d.mov", "qt  "}, {identityJob, "e.avi", "qt  "},
    };
    for (const auto& c : cases) {
        auto out = dir / c.name;
        Exporter::exportVideo(c.job, std::nullopt, clip, out, std::nullopt, fast());
        auto info = probe(out);
        EXPECT_EQ(info["format"]["tags"]["major_brand"], c.brand) << c.name;
        EXPECT_EQ(videoStream(info)["codec_tag_string"], "hvc1") << c.name;
    }
}

TEST_F(ExportTest, GradesFlatColoursThroughTheCube) {
    struct Case {
        const char* name;
        Rgb (*look)(Rgb);
    } looks[] = {{"identity", identity}, {"invert", invert}, {"rotate", rotateChannels}};
    // An orange and a dark teal, as 8-bit limited BT.709 codes.
    struct Colour {
        int y, cb, cr;
    } colours[] = {{145, 80, 180}, {60, 140, 110}};
    for (const auto& look : looks) {
        auto job = writeJob(dir / (std::string(look.name) + ".json"), cubeText(17, look.look));
        for (const auto& colour : colours) {
            auto clip = flatClip(dir, "flat", colour.y, colour.cb, colour.cr);
            auto out = dir / "graded.mov";
            Exporter::exportVideo(job, std::nullopt, clip, out, highBitrate, fast());
            auto frame = firstFrame10(out);
            ASSERT_EQ(frame.size(), 64u * 48 * 3 / 2);
            auto expected = expectedCodes(colour.y, colour.cb, colour.cr, look.look);
            // A 17-point cube interpolates a smooth look to well under one code value;
            // the encoder at this rate keeps flat areas within one more.
            const double tolerance = 3;
            std::size_t lumaCentre = 24 * 64 + 32, chromaCentre = 64 * 48 + 12 * 32 + 16;
            EXPECT_NEAR(frame[lumaCentre], expected.y, tolerance) << look.name;
            EXPECT_NEAR(frame[chromaCentre], expected.cb, tolerance) << look.name;
            EXPECT_NEAR(frame[chromaCentre + 32 * 24], expected.cr, tolerance) << look.name;
        }
    }
}

TEST_F(ExportTest, TenBitSourceKeepsItsPrecision) {
    // Y′ 10-bit code 66 (limited) is 2.34 in full range: through 8 bits it would be
    // 0 or 4.67. Chroma neutral.
    auto raw = dir / "deep.yuv";
    std::string bytes;
    for (int f = 0; f < 2; ++f)
        for (std::uint16_t value : {std::uint16_t(66), std::uint16_t(512), std::uint16_t(512)})
            for (int i = 0; i < 64 * 48; ++i)
                bytes.append(reinterpret_cast<const char*>(&value), 2);
    writeFile(raw, bytes);
    auto clip = dir / "deep.mkv";
    makeClip("-f rawvideo -pix_fmt yuv444p10le -s 64x48 -r 25 -i " + shellQuote(raw.string()) +
                 " -c:v ffv1 -color_range tv -colorspace bt709",
             clip);
    auto out = dir / "deep.mov";
    Exporter::exportVideo(identityJob, std::nullopt, clip, out, highBitrate, fast());
    auto frame = firstFrame10(out);
    ASSERT_FALSE(frame.empty());
    EXPECT_NEAR(frame[24 * 64 + 32], 1023 * 2 / 876.0, 1.0);
}

TEST_F(ExportTest, RotatedClipComesOutUpright) {
    // Top half red, bottom half blue; the container asks for a quarter turn.
    auto plain = dir / "plain.mp4";
    makeClip("-f lavfi -i color=red:size=64x24:rate=25:duration=0.2 -f lavfi -i "
             "color=blue:size=64x24:rate=25:duration=0.2 -filter_complex vstack "
             "-c:v libx264 -preset ultrafast -pix_fmt yuv420p",
             plain);
    auto rotated = dir / "rotated.mp4";
    makeClip("-i " + shellQuote(plain.string()) + " -c copy -metadata:s:v:0 rotate=90", rotated);

    auto out = dir / "upright.mov";
    auto result =
        Exporter::exportVideo(identityJob, std::nullopt, rotated, out, highBitrate, fast());
    EXPECT_EQ(result.width, 48);
    EXPECT_EQ(result.height, 64);
    auto info = probe(out);
    EXPECT_EQ(videoStream(info)["width"], 48);
    EXPECT_FALSE(videoStream(info).contains("side_data_list")) << "the output carries no rotation";

    // ffmpeg's own rotation of the source is the reference: compare luma by halves.
    auto reference = run("ffmpeg -nostdin -v error -i " + shellQuote(rotated.string()) +
                         " -frames:v 1 -f rawvideo -pix_fmt gray -");
    ASSERT_EQ(reference.out.size(), 48u * 64);
    auto ours = firstFrame10(out);
    int agreeing = 0;
    // Red is Y′ 63 (limited, 8-bit) or 217 (full, 10-bit), blue 32 or 74; sample
    // away from the edge between them.
    for (int y = 4; y < 64; y += 8)
        for (int x = 4; x < 48; x += 8) {
            bool referenceBright = static_cast<unsigned char>(reference.out[y * 48 + x]) > 47;
            bool oursBright = ours[y * 48 + x] > 145;
            agreeing += referenceBright == oursBright;
        }
    EXPECT_EQ(agreeing, 8 * 6);
}

TEST_F(ExportTest, VariableRateSourceComesOutAtConstantRate) {
    auto clip = dir / "vfr.mkv";
    makeClip("-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.32 -vf "
             "\"setpts='N/25/TB+if(gte(N,4),0.2/TB,0)'\" -fps_mode vfr -c:v ffv1",
             clip);
    auto job = writeJob(dir / "rate.json", cubeText(2, identity), {{"fps", 30}});
    auto out = dir / "cfr.mov";
    auto result = Exporter::exportVideo(job, std::nullopt, clip, out, std::nullopt, fast());
    EXPECT_EQ(result.fps, 30.0);
    auto times = packetTimes(out);
    ASSERT_EQ(times.size(), 8u);
    for (std::size_t n = 0; n < times.size(); ++n)
        EXPECT_NEAR(std::stod(times[n]), n * 1001.0 / 30000, 1e-5) << "frame " << n;
}

TEST_F(ExportTest, OddSizeIsCodedOnePixelSmaller) {
    auto clip = dir / "odd.mkv";
    makeClip("-f lavfi -i testsrc=size=65x49:rate=25:duration=0.2 -c:v ffv1 -pix_fmt yuv444p",
             clip);
    auto out = dir / "odd.mov";
    auto plan = Exporter::plan(identityJob, std::nullopt, clip, out, std::nullopt);
    EXPECT_EQ(plan.size, (OutputSize{65, 49}));
    EXPECT_EQ(plan.encodedSize, (OutputSize{64, 48}));
    auto result = Exporter::exportVideo(identityJob, std::nullopt, clip, out, std::nullopt, fast());
    EXPECT_EQ(result.width, 64);
    EXPECT_EQ(result.height, 48);
    EXPECT_EQ(videoStream(probe(out))["height"], 48);
}

TEST_F(ExportTest, MaxWidthScalesDown) {
    auto clip = clipWithAudio();
    auto job = writeJob(dir / "small.json", cubeText(2, identity), {{"maxWidth", 33}});
    auto out = dir / "small.mp4";
    auto result = Exporter::exportVideo(job, std::nullopt, clip, out, std::nullopt, fast());
    EXPECT_EQ(result.width, 32);
    EXPECT_EQ(result.height, 24);
    EXPECT_EQ(videoStream(probe(out))["width"], 32);
}

// How a run that fails leaves the disk: the input and any earlier output as they
// were, and nothing new.
class FailingExportTest : public ExportTest {
protected:
    void expectFailure(const std::function<void()>& export_, const std::string& domain,
                       long long code) {
        auto before = folderEntries(dir.path());
        try {
            export_();
            ADD_FAILURE() << "the export did not fail";
        } catch (const Error& error) {
            EXPECT_EQ(error.domain(), domain) << error.description();
            EXPECT_EQ(error.code(), code) << error.description();
        }
        EXPECT_EQ(folderEntries(dir.path()), before) << "files appeared or vanished";
    }
};

TEST_F(FailingExportTest, NoVideoTrack) {
    auto audio = dir / "tone.m4a";
    makeClip("-f lavfi -i sine=duration=0.3 -c:a aac", audio);
    auto out = dir / "out.mov";
    writeFile(out, "an earlier export");
    expectFailure(
        [&] { Exporter::exportVideo(identityJob, std::nullopt, audio, out, std::nullopt, fast()); },
        "export", 1);
    EXPECT_EQ(readFile(out), "an earlier export");
}

TEST_F(FailingExportTest, OutputNamesTheInput) {
    auto clip = clipWithAudio();
    auto original = readFile(clip);
    expectFailure(
        [&] { Exporter::exportVideo(identityJob, std::nullopt, clip, clip, std::nullopt, fast()); },
        "export", 8);
    fs::create_symlink(clip, dir / "link.mp4");
    expectFailure(
        [&] {
            Exporter::exportVideo(identityJob, std::nullopt, clip, dir / "." / "link.mp4",
                                  std::nullopt, fast());
        },
        "export", 8);
    EXPECT_EQ(readFile(clip), original);
}

TEST_F(FailingExportTest, EncoderRefusesTheSize) {
    auto clip = clipWithAudio();
    auto job = writeJob(dir / "tiny.json", cubeText(2, identity), {{"maxWidth", 4}});
    expectFailure(
        [&] {
            Exporter::exportVideo(job, std::nullopt, clip, dir / "tiny.mov", std::nullopt, fast());
        },
        "export", 4);
}

TEST_F(FailingExportTest, BadJobAndBadLut) {
    auto clip = clipWithAudio();
    auto out = dir / "out.mov";
    writeFile(dir / "broken.json", "{\"version\": 1, \"grade\": ");
    expectFailure(
        [&] {
            Exporter::exportVideo(dir / "broken.json", std::nullopt, clip, out, std::nullopt,
                                  fast());
        },
        "job", 1);
    auto noSize = writeJob(dir / "nosize.json", "0 0 0\n1 1 1\n");
    expectFailure(
        [&] { Exporter::exportVideo(noSize, std::nullopt, clip, out, std::nullopt, fast()); },
        "cube", 1);
    // An override that reads but does not parse wins over the job's good LUT.
    writeFile(dir / "short.cube", "LUT_3D_SIZE 2\n0 0 0\n");
    expectFailure(
        [&] {
            Exporter::exportVideo(identityJob, dir / "short.cube", clip, out, std::nullopt, fast());
        },
        "cube", 2);
    expectFailure(
        [&] {
            Exporter::exportVideo(dir / "missing.json", std::nullopt, clip, out, std::nullopt,
                                  fast());
        },
        "file", ENOENT);
}

TEST_F(FailingExportTest, CancelledRunLeavesNothing) {
    auto clip = clipWithAudio();
    auto out = dir / "out.mov";
    writeFile(out, "an earlier export");
    CancellationToken cancel{false};
    auto options = fast();
    options.cancellation = &cancel;
    std::int64_t lastDone = 0;
    options.progress = [&](std::int64_t done, std::int64_t) {
        lastDone = done;
        if (done == 3)
            cancel = true;
    };
    expectFailure(
        [&] { Exporter::exportVideo(identityJob, std::nullopt, clip, out, std::nullopt, options); },
        "export", 6);
    EXPECT_EQ(lastDone, 3);
    EXPECT_EQ(readFile(out), "an earlier export");
}

TEST_F(ExportTest, UnreadableOverrideFallsBackToTheJobsLut) {
    auto clip = flatClip(dir, "flat", 145, 80, 180, 1);
    auto invertJob = writeJob(dir / "invert.json", cubeText(17, invert));
    auto out = dir / "out.mov";
    writeFile(dir / "latin1.cube", "LUT_3D_SIZE 2\n# caf\xe9\n");
    Exporter::exportVideo(invertJob, dir / "latin1.cube", clip, out, highBitrate, fast());
    Exporter::exportVideo(invertJob, dir / "missing.cube", clip, dir / "out2.mov", highBitrate,
                          fast());
    auto expected = expectedCodes(145, 80, 180, invert);
    EXPECT_NEAR(firstFrame10(out)[24 * 64 + 32], expected.y, 3);
    EXPECT_NEAR(firstFrame10(dir / "out2.mov")[24 * 64 + 32], expected.y, 3);
}

TEST_F(ExportTest, ReplacesAnEarlierOutputAndReportsProgress) {
    auto clip = clipWithAudio();
    auto out = dir / "out.mov";
    writeFile(out, "an earlier export");
    auto options = fast();
    std::vector<std::pair<std::int64_t, std::int64_t>> reports;
    options.progress = [&](std::int64_t done, std::int64_t expected) {
        reports.emplace_back(done, expected);
    };
    Exporter::exportVideo(identityJob, std::nullopt, clip, out, std::nullopt, options);
    EXPECT_NE(readFile(out), "an earlier export");
    ASSERT_EQ(reports.size(), 10u);
    EXPECT_EQ(reports.back().first, 10);
    // The estimate comes from the container's duration, which the audio may stretch.
    EXPECT_NEAR(reports.back().second, 10, 1);
}

} // namespace
} // namespace vantrel
