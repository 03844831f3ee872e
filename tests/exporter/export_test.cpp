// Whole exports of tiny clips made here, checked with ffprobe and by decoding the
// output with ffmpeg: an independent reader for every claim about the file.

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "exporter/exporter.hpp"
#include "media/error.hpp"
#include "support/test_support.hpp"

extern "C" {
#include <libavutil/error.h>
}

namespace vantrel {
namespace {

using namespace test;
namespace fs = std::filesystem;
using Rgb = std::array<double, 3>;

std::string cubeText(int n, Rgb (*look)(Rgb)) {
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
}

fs::path writeJob(const fs::path& path, const std::string& cube,
                  const nlohmann::json& output = nullptr) {
    nlohmann::json job = {{"version", 1}, {"grade", {{"lutCube", cube}}}};
    if (!output.is_null())
        job["output"] = output;
    writeFile(path, job.dump());
    return path;
}

const nlohmann::json& videoStream(const nlohmann::json& info) {
    static const nlohmann::json none;
    for (const auto& s : info["streams"])
        if (s["codec_type"] == "video")
            return s;
    ADD_FAILURE() << "no video stream";
    return none;
}

std::vector<double> packetTimes(const fs::path& file) {
    std::vector<double> times;
    auto info = probe(file, "-select_streams v -show_entries packet=pts_time");
    for (const auto& p : info["packets"])
        times.push_back(std::stod(p["pts_time"].get<std::string>()));
    std::sort(times.begin(), times.end());
    return times;
}

// The first frame as 10-bit 4:2:0 samples (Y′, then Cb, then Cr), decoded by
// ffmpeg with its own rotation handling.
std::vector<std::uint16_t> firstFrame10(const fs::path& file) {
    auto result = run("ffmpeg -nostdin -v error -i " + shellQuote(file.string()) +
                      " -frames:v 1 -f rawvideo -pix_fmt yuv420p10le -");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::uint16_t> samples(result.out.size() / 2);
    std::memcpy(samples.data(), result.out.data(), samples.size() * 2);
    return samples;
}

std::uint16_t centreLuma(const fs::path& file) {
    auto frame = firstFrame10(file);
    return frame.size() > 24 * 64 + 32 ? frame[24 * 64 + 32] : 0;
}

// Frames of one flat limited-range BT.709 Y′CbCr colour (8 or 10-bit codes),
// wrapped losslessly.
fs::path flatClip(const fs::path& clip, std::array<int, 3> ycbcr, int bits = 8, int frames = 3) {
    auto raw = clip.string() + ".yuv";
    std::string bytes;
    for (int f = 0; f < frames; ++f)
        for (int value : ycbcr)
            for (int i = 0; i < 64 * 48; ++i)
                bits == 8
                    ? bytes.push_back(char(value))
                    : (bytes.push_back(char(value & 0xFF)), bytes.push_back(char(value >> 8)));
    writeFile(raw, bytes);
    makeClip(std::string("-f rawvideo -pix_fmt ") + (bits == 8 ? "yuv444p" : "yuv444p10le") +
                 " -s 64x48 -r 25 -i " + shellQuote(raw) +
                 " -c:v ffv1 -color_range tv -colorspace bt709",
             clip);
    fs::remove(raw);
    return clip;
}

// A flat 8-bit limited BT.709 colour after the cube, in full-range 10-bit codes.
std::array<double, 3> expectedCodes(std::array<int, 3> c, Rgb (*look)(Rgb)) {
    const double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
    double y = (c[0] - 16) / 219.0, cb = (c[1] - 128) / 224.0, cr = (c[2] - 128) / 224.0;
    Rgb rgb =
        look({std::clamp(y + 2 * (1 - kr) * cr, 0.0, 1.0),
              std::clamp(y - 2 * kb * (1 - kb) / kg * cb - 2 * kr * (1 - kr) / kg * cr, 0.0, 1.0),
              std::clamp(y + 2 * (1 - kb) * cb, 0.0, 1.0)});
    double yo = kr * rgb[0] + kg * rgb[1] + kb * rgb[2];
    return {1023 * yo, 512 + 1023 * (rgb[2] - yo) / (2 * (1 - kb)),
            512 + 1023 * (rgb[0] - yo) / (2 * (1 - kr))};
}

constexpr std::int64_t highBitrate = 50'000'000;

class ExportTest : public ::testing::Test {
protected:
    ScratchDir dir;
    fs::path identityJob = writeJob(dir / "identity.json", cubeText(2, identity));

    fs::path clipWithAudio() {
        makeClip(
            "-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.4 -f lavfi -i sine=duration=0.4 "
            "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest",
            dir / "clip.mp4");
        return dir / "clip.mp4";
    }
    static ExportOptions fast() {
        ExportOptions options;
        options.preset = "ultrafast";
        return options;
    }
    ExportResult exportTo(const fs::path& out, const fs::path& job, const fs::path& input,
                          std::optional<std::int64_t> bitrate = std::nullopt,
                          std::optional<fs::path> lut = std::nullopt) {
        return Exporter::exportVideo({job, lut, input, out, bitrate}, fast());
    }
};

TEST_F(ExportTest, WritesTaggedMain10VideoOnlyAtConstantTimes) {
    auto out = dir / "out.mov";
    auto result = exportTo(out, identityJob, clipWithAudio());
    EXPECT_EQ(result.outputPath, out);
    EXPECT_EQ(result.fps, 25.0);
    EXPECT_EQ(result.width, 64);
    EXPECT_EQ(result.height, 48);

    auto info = probe(out, "-count_frames");
    ASSERT_EQ(info["streams"].size(), 1u) << "audio must not be copied";
    const auto& v = videoStream(info);
    for (auto [key, value] : {std::pair{"codec_name", "hevc"},
                              {"profile", "Main 10"},
                              {"pix_fmt", "yuv420p10le"},
                              {"codec_tag_string", "hvc1"},
                              {"color_range", "pc"},
                              {"color_space", "bt709"},
                              {"color_transfer", "bt709"},
                              {"color_primaries", "bt709"},
                              {"nb_read_frames", "10"}})
        EXPECT_EQ(v[key], value) << key;
    EXPECT_EQ(info["format"]["tags"]["major_brand"], "qt  ");
    auto times = packetTimes(out);
    ASSERT_EQ(times.size(), 10u);
    for (std::size_t n = 0; n < times.size(); ++n)
        EXPECT_NEAR(times[n], n / 25.0, 1e-6) << "frame " << n;
    EXPECT_EQ(folderEntries(dir.path()),
              (std::vector<std::string>{"clip.mp4", "identity.json", "out.mov"}));
}

TEST_F(ExportTest, ContainerFollowsExtensionThenJob) {
    auto clip = clipWithAudio();
    auto mp4Job = writeJob(dir / "mp4.json", cubeText(2, identity), {{"container", "MP4"}});
    struct {
        fs::path job;
        std::string name, brand;
    } cases[] = {{identityJob, "a.MP4", "isom"},
                 {mp4Job, "c.mov", "isom"}, // MPEG-4 data under a .mov name
                 {identityJob, "e.avi", "qt  "}};
    for (const auto& c : cases) {
        exportTo(dir / c.name, c.job, clip);
        auto info = probe(dir / c.name);
        EXPECT_EQ(info["format"]["tags"]["major_brand"], c.brand) << c.name;
        EXPECT_EQ(videoStream(info)["codec_tag_string"], "hvc1") << c.name;
    }
}

TEST_F(ExportTest, GradesFlatColoursThroughTheCube) {
    struct {
        const char* name;
        Rgb (*look)(Rgb);
    } looks[] = {{"identity", identity}, {"invert", invert}, {"rotate", rotateChannels}};
    // An orange and a dark teal, 8-bit limited BT.709.
    const std::array<int, 3> colours[] = {{145, 80, 180}, {60, 140, 110}};
    for (const auto& look : looks) {
        auto job = writeJob(dir / "look.json", cubeText(17, look.look));
        for (const auto& colour : colours) {
            auto out = dir / "graded.mov";
            exportTo(out, job, flatClip(dir / "flat.mkv", colour), highBitrate);
            auto frame = firstFrame10(out);
            ASSERT_EQ(frame.size(), 64u * 48 * 3 / 2);
            auto expected = expectedCodes(colour, look.look);
            // The 17-point cube is well under a code value off a smooth look; the
            // encoder keeps flat areas within a couple more at this rate.
            std::size_t luma = 24 * 64 + 32, cb = 64 * 48 + 12 * 32 + 16, cr = cb + 32 * 24;
            EXPECT_NEAR(frame[luma], expected[0], 3) << look.name;
            EXPECT_NEAR(frame[cb], expected[1], 3) << look.name;
            EXPECT_NEAR(frame[cr], expected[2], 3) << look.name;
        }
    }
}

TEST_F(ExportTest, TenBitSourceKeepsItsPrecision) {
    // Limited 10-bit Y′ 66 is 2.34 in full range; through 8 bits it would be 0 or 4.67.
    auto clip = flatClip(dir / "deep.mkv", {66, 512, 512}, 10, 2);
    exportTo(dir / "deep.mov", identityJob, clip, highBitrate);
    EXPECT_NEAR(centreLuma(dir / "deep.mov"), 1023 * 2 / 876.0, 1.0);
}

TEST_F(ExportTest, RotatedClipComesOutUpright) {
    // Top half red, bottom half blue; the container asks for a quarter turn.
    makeClip("-f lavfi -i color=red:size=64x24:rate=25:duration=0.2 -f lavfi -i "
             "color=blue:size=64x24:rate=25:duration=0.2 -filter_complex vstack "
             "-c:v libx264 -preset ultrafast -pix_fmt yuv420p",
             dir / "plain.mp4");
    auto rotated = dir / "rotated.mp4";
    makeClip("-i " + shellQuote((dir / "plain.mp4").string()) +
                 " -c copy -metadata:s:v:0 rotate=90",
             rotated);
    auto out = dir / "upright.mov";
    auto result = exportTo(out, identityJob, rotated, highBitrate);
    EXPECT_EQ(result.width, 48);
    EXPECT_EQ(result.height, 64);
    EXPECT_FALSE(videoStream(probe(out)).contains("side_data_list")) << "no rotation of its own";

    // ffmpeg's own turn of the source is the reference. Red is Y′ 63 (limited 8-bit)
    // or 217 (full 10-bit), blue 32 or 74; sample away from the edge between them.
    auto reference = run("ffmpeg -nostdin -v error -i " + shellQuote(rotated.string()) +
                         " -frames:v 1 -f rawvideo -pix_fmt gray -");
    ASSERT_EQ(reference.out.size(), 48u * 64);
    auto ours = firstFrame10(out);
    for (int y = 4; y < 64; y += 8)
        for (int x = 4; x < 48; x += 8)
            EXPECT_EQ(static_cast<unsigned char>(reference.out[y * 48 + x]) > 47,
                      ours[y * 48 + x] > 145)
                << x << "," << y;
}

TEST_F(ExportTest, VariableRateSourceComesOutAtConstantRate) {
    makeClip("-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.32 -vf "
             "\"setpts='N/25/TB+if(gte(N,4),0.2/TB,0)'\" -fps_mode vfr -c:v ffv1",
             dir / "vfr.mkv");
    auto job = writeJob(dir / "rate.json", cubeText(2, identity), {{"fps", 30}});
    EXPECT_EQ(exportTo(dir / "cfr.mov", job, dir / "vfr.mkv").fps, 30.0);
    auto times = packetTimes(dir / "cfr.mov");
    ASSERT_EQ(times.size(), 8u);
    for (std::size_t n = 0; n < times.size(); ++n)
        EXPECT_NEAR(times[n], n * 1001.0 / 30000, 1e-5) << "frame " << n;
}

// A source at 30000/1001 keeps its rate: every timestamp is exactly n·1001 in a
// 1/30000 time base, with nothing rounded along the way.
TEST_F(ExportTest, NtscRateSourceIsStampedInExactSteps) {
    makeClip("-f lavfi -i testsrc2=size=64x48:rate=30000/1001:duration=0.3 -c:v libx264 -preset "
             "ultrafast -pix_fmt yuv420p",
             dir / "ntsc.mp4");
    EXPECT_EQ(exportTo(dir / "ntsc.mov", identityJob, dir / "ntsc.mp4").fps, 29.97);
    auto info = probe(dir / "ntsc.mov",
                      "-select_streams v -show_entries packet=pts:stream=codec_type,time_base");
    EXPECT_EQ(videoStream(info)["time_base"], "1/30000");
    std::vector<std::int64_t> pts;
    for (const auto& p : info["packets"])
        pts.push_back(p["pts"].get<std::int64_t>());
    std::sort(pts.begin(), pts.end());
    ASSERT_EQ(pts.size(), 9u);
    for (std::size_t n = 0; n < pts.size(); ++n)
        EXPECT_EQ(pts[n], static_cast<std::int64_t>(n) * 1001) << "frame " << n;
}

TEST_F(ExportTest, SizesFollowTheRulesAndTheEncoderCodesEvenSides) {
    struct {
        std::string source;
        nlohmann::json output;
        OutputSize size, encoded;
    } cases[] = {
        {"testsrc=size=65x49", nullptr, {65, 49}, {64, 48}},
        {"testsrc2=size=64x48", {{"maxWidth", 33}}, {32, 24}, {32, 24}},
    };
    for (const auto& c : cases) {
        makeClip("-f lavfi -i " + c.source + ":rate=25:duration=0.2 -c:v ffv1 -pix_fmt yuv444p",
                 dir / "in.mkv");
        auto job = writeJob(dir / "job.json", cubeText(2, identity), c.output);
        auto plan =
            Exporter::plan({job, std::nullopt, dir / "in.mkv", dir / "out.mov", std::nullopt});
        EXPECT_EQ(plan.size, c.size) << c.source;
        EXPECT_EQ(plan.encodedSize, c.encoded) << c.source;
        auto result = exportTo(dir / "out.mov", job, dir / "in.mkv");
        EXPECT_EQ((OutputSize{result.width, result.height}), c.encoded) << c.source;
        EXPECT_EQ(videoStream(probe(dir / "out.mov"))["width"], c.encoded.width) << c.source;
    }
}

TEST_F(ExportTest, ReplacesAnEarlierOutputAndReportsProgress) {
    auto out = dir / "out.mov";
    writeFile(out, "an earlier export");
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(out, mode);
    auto options = fast();
    std::vector<std::pair<std::int64_t, std::int64_t>> reports;
    options.progress = [&](std::int64_t done, std::int64_t expected) {
        reports.emplace_back(done, expected);
    };
    Exporter::exportVideo({identityJob, std::nullopt, clipWithAudio(), out, std::nullopt}, options);
    EXPECT_NE(readFile(out), "an earlier export");
    EXPECT_EQ(fs::status(out).permissions(), mode) << "the replaced file's permissions stay";
    ASSERT_EQ(reports.size(), 10u);
    EXPECT_EQ(reports.back().first, 10);
    // The estimate comes from the container's duration, which the audio may stretch.
    EXPECT_NEAR(reports.back().second, 10, 1);
}

// A failed run leaves the input and any earlier output as they were, and nothing new.
class FailingExportTest : public ExportTest {
protected:
    std::string expectFailure(const std::function<void()>& run, const std::string& domain,
                              long long code) {
        auto before = folderEntries(dir.path());
        std::string description;
        try {
            run();
            ADD_FAILURE() << "the export did not fail";
        } catch (const Error& error) {
            description = error.description();
            EXPECT_EQ(error.domain(), domain) << description;
            EXPECT_EQ(error.code(), code) << description;
        }
        EXPECT_EQ(folderEntries(dir.path()), before) << "files appeared or vanished";
        return description;
    }
};

TEST_F(FailingExportTest, EachFailureHasItsErrorAndKeepsTheEarlierOutput) {
    auto clip = clipWithAudio();
    makeClip("-f lavfi -i sine=duration=0.3 -c:a aac", dir / "tone.m4a");
    writeFile(dir / "broken.json", "{\"version\": 1, \"grade\": ");
    writeFile(dir / "short.cube", "LUT_3D_SIZE 2\n0 0 0\n");
    // Motion JPEG with its sample entry's size and every picture zeroed: probing
    // cannot learn a picture size.
    makeClip("-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 -c:v mjpeg", dir / "j.mov");
    auto sizeless = readFile(dir / "j.mov");
    auto entry = sizeless.find("jpeg", sizeless.find("stsd"));
    auto mdat = sizeless.find("mdat");
    ASSERT_NE(entry, std::string::npos);
    ASSERT_NE(mdat, std::string::npos);
    std::fill_n(sizeless.begin() + static_cast<std::ptrdiff_t>(entry) + 28, 4, '\0');
    std::size_t mdatSize = 0;
    for (std::size_t k = mdat - 4; k < mdat; ++k)
        mdatSize = mdatSize << 8 | static_cast<unsigned char>(sizeless[k]);
    std::fill_n(sizeless.begin() + static_cast<std::ptrdiff_t>(mdat) + 4, mdatSize - 8, '\0');
    writeFile(dir / "sizeless.mov", sizeless);
    auto out = dir / "out.mov";
    writeFile(out, "an earlier export");
    struct {
        fs::path job;
        std::optional<fs::path> lut;
        fs::path input;
        std::string domain;
        long long code;
        std::string mention; // what the description must say beyond domain and code
    } cases[] = {
        {dir / "missing.json", {}, clip, "file", ENOENT, "missing.json"},
        {dir / "broken.json", {}, clip, "job", 1, "dataCorrupted"},
        {writeJob(dir / "nosize.json", "0 0 0\n1 1 1\n"), {}, clip, "cube", 1, "LUT_3D_SIZE"},
        // An override that reads but does not parse wins over the job's good LUT.
        {identityJob, dir / "short.cube", clip, "cube", 2, "fewer entries"},
        {identityJob, {}, dir / "tone.m4a", "export", 1, "no video track"},
        {identityJob, {}, dir / "sizeless.mov", "export", 2, "size is unknown (0x0)"},
        // Two pixels wide is too small for the encoder.
        {writeJob(dir / "tiny.json", cubeText(2, identity), {{"maxWidth", 2}}),
         {},
         clip,
         "export",
         4,
         "too small"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.job.filename().string() + " " + c.input.filename().string());
        auto description = expectFailure(
            [&] { exportTo(out, c.job, c.input, std::nullopt, c.lut); }, c.domain, c.code);
        EXPECT_THAT(description, testing::HasSubstr(c.mention));
        EXPECT_EQ(readFile(out), "an earlier export");
    }
}

// The encoder fails on frame 3 once the decoding side has filled the hand-off and
// waits for room: the run must end at once with the encoder's own error chained
// under export error 6, and keep the earlier output.
TEST_F(FailingExportTest, EncoderFailingPartWayEndsTheRun) {
    struct FailAtThree : ExportHooks {
        std::mutex mutex;
        std::condition_variable handedOver;
        std::int64_t frames = 0;
        void beforeEncoding(std::int64_t index) override {
            if (index != 3)
                return;
            // Frames 4 and 5 wait in the hand-off; 6 is graded and blocks.
            std::unique_lock lock(mutex);
            handedOver.wait(lock, [&] { return frames >= 6; });
            throw MediaError(AVERROR(EIO), "send a picture to the HEVC encoder");
        }
    } hooks;
    auto options = fast();
    options.hooks = &hooks;
    std::int64_t lastDone = 0;
    options.progress = [&](std::int64_t done, std::int64_t) {
        lastDone = done;
        std::lock_guard lock(hooks.mutex);
        hooks.frames = done;
        hooks.handedOver.notify_all();
    };
    auto clip = clipWithAudio();
    auto out = dir / "out.mov";
    writeFile(out, "an earlier export");
    try {
        Exporter::exportVideo({identityJob, std::nullopt, clip, out, std::nullopt}, options);
        ADD_FAILURE() << "the export did not fail";
    } catch (const Error& error) {
        EXPECT_TRUE(error.is(ExportCode::encodingStopped)) << error.description();
        ASSERT_NE(error.cause(), nullptr);
        EXPECT_EQ(error.cause()->reason(), "could not send a picture to the HEVC encoder");
    }
    EXPECT_EQ(lastDone, 6) << "the producer went on after the encoder failed";
    EXPECT_EQ(readFile(out), "an earlier export");
    EXPECT_EQ(folderEntries(dir.path()),
              (std::vector<std::string>{"clip.mp4", "identity.json", "out.mov"}));
}

// Outputs that would cost the user a file are refused before anything is read: the
// job here is broken, so reading it first would fail differently.
TEST_F(FailingExportTest, OutputsThatWouldCostAFileAreRefusedFirst) {
    auto clip = clipWithAudio();
    auto job = dir / "broken.json";
    writeFile(job, "{\"version\": 1, \"grade\": ");
    auto lut = dir / "look.cube";
    writeFile(lut, cubeText(2, identity));
    fs::create_symlink(clip, dir / "link.mp4");
    fs::create_hard_link(job, dir / "job-again.json");
    fs::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    writeFile(dir / "readonly.mov", "kept");
    fs::permissions(dir / "readonly.mov", fs::perms::owner_read | fs::perms::group_read);
    // A device node of our own (the null device's numbers) stands in for /dev/null.
    const bool device = ::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    struct {
        fs::path output;
        std::string domain;
        long long code;
        std::string mention;
    } cases[] = {
        {clip, "export", 8, "input video"},
        {dir / "." / "link.mp4", "export", 8, "input video"},
        {dir / "job-again.json", "export", 8, "job file"},
        {dir / "folder" / ".." / "look.cube", "export", 8, "LUT file"},
        {dir / "folder", "file", EISDIR, "folder"},
        {dir / "fifo", "file", EINVAL, "a FIFO, not a regular file"},
        {dir / "null", "file", EINVAL, "a character device"},
        {dir / "readonly.mov", "file", EACCES, "read-only"},
    };
    for (const auto& c : cases) {
        if (c.output == dir / "null" && !device)
            continue;
        SCOPED_TRACE(c.output.string());
        auto description = expectFailure([&] { exportTo(c.output, job, clip, std::nullopt, lut); },
                                         c.domain, c.code);
        EXPECT_THAT(description, testing::HasSubstr(c.mention));
    }
    EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
    if (device) {
        EXPECT_EQ(fs::status(dir / "null").type(), fs::file_type::character);
    }
    EXPECT_EQ(readFile(dir / "readonly.mov"), "kept");
    EXPECT_EQ(readFile(dir / "job-again.json"), "{\"version\": 1, \"grade\": ");
}

// A FIFO given as the input would be opened twice and block forever.
TEST_F(FailingExportTest, InputThatIsNotARegularFileIsRefused) {
    ASSERT_EQ(::mkfifo((dir / "input.mp4").c_str(), 0644), 0);
    auto description = expectFailure(
        [&] { exportTo(dir / "out.mov", identityJob, dir / "input.mp4"); }, "file", EINVAL);
    EXPECT_THAT(description, testing::HasSubstr("a FIFO"));
    EXPECT_THROW(Exporter::plan(
                     {identityJob, std::nullopt, dir / "input.mp4", dir / "out.mov", std::nullopt}),
                 FileError);
}

// A cancellation is honoured until the finished file is renamed into place: while
// frames are graded, and at the last check, after the file is finished.
TEST_F(FailingExportTest, CancelledRunLeavesNothing) {
    struct CancelBeforeRename : ExportHooks {
        CancellationToken* token = nullptr;
        void beforeRename() override { *token = true; }
    };
    auto clip = clipWithAudio();
    auto out = dir / "out.mov";
    writeFile(out, "an earlier export");
    for (const bool beforeRename : {false, true}) {
        SCOPED_TRACE(beforeRename ? "before the rename" : "at frame 3");
        CancellationToken cancel{false};
        CancelBeforeRename hooks;
        hooks.token = &cancel;
        auto options = fast();
        options.cancellation = &cancel;
        options.hooks = beforeRename ? &hooks : nullptr;
        std::int64_t lastDone = 0;
        options.progress = [&](std::int64_t done, std::int64_t) {
            lastDone = done;
            if (!beforeRename && done == 3)
                cancel = true;
        };
        auto before = folderEntries(dir.path());
        // Cancelled is its own outcome, told apart by type, not by words.
        EXPECT_THROW(
            Exporter::exportVideo({identityJob, std::nullopt, clip, out, std::nullopt}, options),
            ExportCancelled);
        EXPECT_EQ(lastDone, beforeRename ? 10 : 3);
        EXPECT_EQ(readFile(out), "an earlier export");
        EXPECT_EQ(folderEntries(dir.path()), before);
    }
}

// A moov-first file cut at a sample boundary, or inside a sample, reads like a
// shorter clip; its index says how many frames there should be.
TEST_F(FailingExportTest, InputEndingBeforeItsLastFrameFails) {
    auto whole = dir / "whole.mp4";
    makeClip("-f lavfi -i testsrc2=size=64x48:rate=25:duration=1 -c:v libx264 -preset ultrafast "
             "-pix_fmt yuv420p -movflags +faststart",
             whole);
    auto packets = probe(whole, "-select_streams v -show_entries packet=pos,size")["packets"];
    ASSERT_EQ(packets.size(), 25u);
    auto tenth = std::stoll(packets[10]["pos"].get<std::string>());
    auto size = std::stoll(packets[10]["size"].get<std::string>());
    auto bytes = readFile(whole);
    auto out = dir / "out.mov";
    writeFile(out, "an earlier export");
    for (auto cut : {tenth, tenth + size / 2}) {
        SCOPED_TRACE(cut);
        auto clip = dir / "cut.mp4";
        writeFile(clip, bytes.substr(0, static_cast<std::size_t>(cut)));
        auto description = expectFailure([&] { exportTo(out, identityJob, clip); }, "export", 10);
        EXPECT_THAT(description, testing::HasSubstr("10 of the 25 frames"));
        EXPECT_EQ(readFile(out), "an earlier export");
    }
    // The whole file, read to its end, is no failure.
    EXPECT_EQ(exportTo(out, identityJob, whole).width, 64);
}

} // namespace
} // namespace vantrel
