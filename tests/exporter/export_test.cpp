// Whole exports of tiny clips made here, checked with ffprobe and by decoding the
// output with ffmpeg: an independent reader for every claim about the file. The
// grade's arithmetic is proven by the imaging tests; here one ramp proves the wiring.

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "exporter/exporter.hpp"
#include "imaging/grade_kernel.hpp"
#include "imaging/grade_reference.hpp"
#include "media/error.hpp"
#include "support/test_support.hpp"

extern "C" {
#include <libavutil/error.h>
}

namespace vantrel {
namespace {

using namespace test;
using testing::HasSubstr;
namespace fs = std::filesystem;
using Rgb = std::array<double, 3>;
using Look = Rgb (*)(Rgb);

std::string cubeText(int n, Look look) {
    std::string text = "LUT_3D_SIZE " + std::to_string(n) + "\n";
    for (int i = 0; i < n * n * n; ++i) {
        auto out = look({i % n / (n - 1.0), i / n % n / (n - 1.0), i / n / n / (n - 1.0)});
        text += std::to_string(out[0]) + " " + std::to_string(out[1]) + " " +
                std::to_string(out[2]) + "\n";
    }
    return text;
}

nlohmann::json videoStream(const fs::path& file, const std::string& extra = "") {
    return probe(file, "-select_streams v " + extra)["streams"].at(0);
}

// The first frame as 10-bit 4:2:0 samples (Y′, then Cb, then Cr), decoded by
// ffmpeg with its own rotation handling.
std::vector<std::uint16_t> firstFrame10(const fs::path& file) {
    auto result = run("ffmpeg -nostdin -v error -i " + shellQuote(file) +
                      " -frames:v 1 -f rawvideo -pix_fmt yuv420p10le -");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::uint16_t> samples(result.out.size() / 2);
    std::memcpy(samples.data(), result.out.data(), samples.size() * 2);
    return samples;
}

// Two seconds at 25 fps whose frame 20 is white, and whose sound (`codec`) clicks
// at 0.8 s, when that frame shows; the sound starts `delay` seconds after the picture.
void makeClickAndFlash(const fs::path& output, const std::string& codec, double delay,
                       double videoStart = 0) {
    const auto at = [&](double t) { return std::to_string(t + videoStart - delay); };
    makeClip("-itsoffset " + std::to_string(videoStart) +
                 " -f lavfi -i "
                 "\"color=black:s=64x48:r=25:d=2,drawbox=c=white:t=fill:enable='eq(n,20)'\" "
                 "-itsoffset " +
                 std::to_string(delay) +
                 " -f lavfi -i \"aevalsrc='0.9*sin(2*PI*1000*t)*between(t," + at(0.8) + "," +
                 at(0.82) + ")':s=48000:d=" + at(2) +
                 "\" -c:v libx264 -preset ultrafast -pix_fmt yuv420p -metadata:s:a:0 language=fra "
                 "-c:a " +
                 codec,
             output);
}

// The seconds at which a player shows the white frame and plays the first loud
// sample, both decoded from the file's start as ffmpeg lays them on one time line:
// the picture at its frame rate, the sound padded with silence to where it starts.
std::pair<double, double> findFlashAndClick(const fs::path& file) {
    const std::string in = "ffmpeg -nostdin -v error -i " + shellQuote(file);
    const auto picture =
        run(in + " -map 0:v:0 -vf scale=1:1 -fps_mode cfr -r 25 -pix_fmt gray -f rawvideo -").out;
    const auto sound =
        run(in + " -map 0:a:0 -af aresample=async=1:first_pts=0 -ac 1 -ar 48000 -f s16le -").out;
    std::vector<std::int16_t> samples(sound.size() / 2);
    std::memcpy(samples.data(), sound.data(), samples.size() * 2);
    const auto flash = std::find_if(picture.begin(), picture.end(),
                                    [](char v) { return static_cast<unsigned char>(v) > 128; });
    const auto click = std::find_if(samples.begin(), samples.end(),
                                    [](std::int16_t v) { return std::abs(v) > 16000; });
    return {(flash - picture.begin()) / 25.0, (click - samples.begin()) / 48000.0};
}

constexpr std::int64_t highBitrate = 50'000'000;

class ExportTest : public ::testing::Test {
protected:
    ScratchDir dir;
    fs::path identityJob = dir / "identity.json";
    fs::path out = dir / "out.mov";
    void SetUp() override { writeJob(identityJob); }

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
    ExportResult exportTo(const fs::path& output, const fs::path& job, const fs::path& input,
                          std::optional<std::int64_t> bitrate = std::nullopt,
                          std::optional<fs::path> lut = std::nullopt) {
        return Exporter::exportVideo({job, lut, input, output, bitrate}, fast());
    }
    // A failed run leaves the input and any earlier output as they were, and
    // nothing new; gives the error's description.
    std::string expectFailure(const std::function<void()>& run, const std::string& domain,
                              long long code) {
        auto before = folderEntries(dir.path());
        const auto earlier = readFile(out);
        std::string description;
        try {
            run();
            ADD_FAILURE() << "the export did not fail";
        } catch (const Error& error) {
            description = error.description();
            EXPECT_EQ(std::pair(error.domain(), static_cast<long long>(error.code())),
                      std::pair(domain, code))
                << description;
        }
        EXPECT_EQ(folderEntries(dir.path()), before) << "files appeared or vanished";
        EXPECT_EQ(readFile(out), earlier);
        return description;
    }
};

TEST_F(ExportTest, ReplacesTheOutputWithTaggedMain10VideoAndReportsEachFrame) {
    writeFile(out, "an earlier export");
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(out, mode);
    auto options = fast();
    std::vector<std::int64_t> done;
    std::int64_t expected = 0;
    options.progress = [&](std::int64_t d, std::int64_t e) { done.push_back(d), expected = e; };
    auto result = Exporter::exportVideo(
        {identityJob, std::nullopt, clipWithAudio(), out, std::nullopt}, options);
    EXPECT_EQ(std::tuple(result.outputPath, result.fps, result.width, result.height),
              std::tuple(out, 25.0, std::int64_t{64}, std::int64_t{48}));
    EXPECT_EQ(fs::status(out).permissions(), mode) << "the replaced file's permissions stay";
    EXPECT_EQ(done, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    // The estimate comes from the container's duration, which the audio may stretch.
    EXPECT_NEAR(expected, 10, 1);

    auto info = probe(out, "-count_frames");
    ASSERT_EQ(info["streams"].size(), 1u) << "audio must not be copied";
    std::string tags = info["format"]["tags"].value("major_brand", "?");
    for (auto key : {"codec_name", "profile", "pix_fmt", "codec_tag_string", "color_range",
                     "color_space", "color_transfer", "color_primaries", "nb_read_frames"})
        tags += "," + info["streams"][0].value(key, "?");
    EXPECT_EQ(tags, "qt  ,hevc,Main 10,yuv420p10le,hvc1,pc,bt709,bt709,bt709,10");
    EXPECT_EQ(folderEntries(dir.path()),
              (std::vector<std::string>{"clip.mp4", "identity.json", "out.mov"}));
}

// A steep 33-point cube on a smooth 10-bit ramp, through the command line: within
// the encoder's accuracy of the double-precision grade, mixed with the source by
// the strength (peak signal-to-noise ratio per plane), on every kernel the CPU
// runs. The preview command's test tells the interpolations apart.
TEST_F(ExportTest, SteepCubeOnARampMatchesTheReferenceOnEveryKernel) {
    const auto code = [](int p, int x, int y) {
        return p == 0 ? 64 + 876 * x / 63 : p == 1 ? 64 + 896 * y / 47 : 960 - 896 * (x + y) / 110;
    };
    std::string bytes;
    for (int i = 0; i < 3 * 64 * 48; ++i)
        bytes += {char(code(i / 3072, i % 64, i / 64 % 48) & 0xff),
                  char(code(i / 3072, i % 64, i / 64 % 48) >> 8)};
    writeFile(dir / "ramp.yuv", bytes);
    makeClip("-f rawvideo -pix_fmt yuv444p10le -s 64x48 -r 25 -i " + (dir / "ramp.yuv").string() +
                 " -c:v ffv1 -color_range tv -colorspace bt709",
             dir / "ramp.mkv");
    const auto steep = [](Rgb c) {
        const auto s = [](double v) { return 1 / (1 + std::exp(-25 * (v - 0.5))); };
        return Rgb{s(c[0] + 0.5 * (c[1] - c[2])), s(c[1] * c[2] + 0.3), s(c[2] - 0.6 * c[0] + 0.2)};
    };
    const std::string cube = cubeText(33, steep);
    writeJob(dir / "steep.json", cube);
    const auto values = Exporter::parseCube(cube).rgb;
    const auto rgb = test::decodeYCbCr({10, 0, 0}, 64, 48, code);
    for (const auto kind : {imaging::kernel::Kind::scalar, imaging::kernel::Kind::avx2,
                            imaging::kernel::Kind::avx512}) {
        if (!imaging::kernel::kernel(kind))
            continue; // this CPU cannot run it
        for (const GradeOptions options : {GradeOptions{Interpolation::tetrahedral, 1},
                                           {Interpolation::tetrahedral, 0.5},
                                           {Interpolation::trilinear, 0}}) { // the source
            const std::string args =
                "VANTREL_KERNEL=" + std::string(imaging::kernel::nameOf(kind)) + " " +
                VANTREL_CLI_PATH + " export --quiet --preset ultrafast --bitrate-mbps 50 --job " +
                (dir / "steep.json").string() + " --input " + (dir / "ramp.mkv").string() +
                " --output " + out.string() + " --interpolation " +
                std::string(nameOf(options.interpolation)) + " --strength " +
                std::to_string(options.strength);
            ASSERT_EQ(run(args).exitCode, 0) << args;
            const auto frame = firstFrame10(out);
            const auto expected = test::encode(rgb, &values, options);
            for (std::size_t p = 0, at = 0; p < 3; ++p) {
                double sum = 0;
                for (const double want : expected.planes[p])
                    sum += std::pow(frame[at++] - std::clamp(want, 0.0, 1023.0), 2);
                EXPECT_GT(10 * std::log10(1023.0 * 1023 * expected.planes[p].size() / sum), 60)
                    << args << " plane " << p;
            }
        }
    }
}

TEST_F(ExportTest, RotatedClipComesOutUpright) {
    // Top half red, bottom half blue; the container asks for a quarter turn.
    makeClip("-f lavfi -i color=red:size=64x24:rate=25:duration=0.2 -f lavfi -i "
             "color=blue:size=64x24:rate=25:duration=0.2 -filter_complex vstack "
             "-c:v libx264 -preset ultrafast -pix_fmt yuv420p",
             dir / "plain.mp4");
    auto rotated = dir / "rotated.mp4";
    makeClip("-i " + shellQuote(dir / "plain.mp4") + " -c copy -metadata:s:v:0 rotate=90", rotated);
    auto result = exportTo(out, identityJob, rotated, highBitrate);
    EXPECT_EQ((OutputSize{result.width, result.height}), (OutputSize{48, 64}));
    EXPECT_FALSE(videoStream(out).contains("side_data_list")) << "no rotation of its own";

    // ffmpeg's own turn of the source is the reference. Red is Y′ 63 (limited 8-bit)
    // or 217 (full 10-bit), blue 32 or 74; sample away from the edge between them.
    auto reference = run("ffmpeg -nostdin -v error -i " + shellQuote(rotated) +
                         " -frames:v 1 -f rawvideo -pix_fmt gray -");
    ASSERT_EQ(reference.out.size(), 48u * 64);
    auto ours = firstFrame10(out);
    for (int y = 4; y < 64; y += 8)
        for (int x = 4; x < 48; x += 8)
            EXPECT_EQ(static_cast<unsigned char>(reference.out[y * 48 + x]) > 47,
                      ours[y * 48 + x] > 145)
                << x << "," << y;
}

// Frames are stamped n·1001 in a 1/30000 time base from a counter, exactly: a
// variable-rate source made constant by the job's rate, and a source at
// 30000/1001 that keeps its own.
TEST_F(ExportTest, FramesAreStampedInExactStepsAtTheChosenRate) {
    makeClip("-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.32 -vf "
             "\"setpts='N/25/TB+if(gte(N,4),0.2/TB,0)'\" -fps_mode vfr -c:v ffv1",
             dir / "vfr.mkv");
    makeClip("-f lavfi -i testsrc2=size=64x48:rate=30000/1001:duration=0.3 -c:v libx264 -preset "
             "ultrafast -pix_fmt yuv420p",
             dir / "ntsc.mp4");
    auto rateJob = writeJob(dir / "rate.json", identityCube, {{"fps", 30}});
    for (auto [job, clip, fps, frames] : {std::tuple{rateJob, dir / "vfr.mkv", 30.0, 8},
                                          std::tuple{identityJob, dir / "ntsc.mp4", 29.97, 9}}) {
        EXPECT_EQ(exportTo(out, job, clip).fps, fps) << clip;
        auto info = probe(out, "-select_streams v -show_entries packet=pts:stream=time_base");
        std::vector<std::int64_t> pts, steps;
        for (const auto& p : info["packets"])
            pts.push_back(p["pts"].get<std::int64_t>());
        std::sort(pts.begin(), pts.end());
        for (int n = 0; n < frames; ++n)
            steps.push_back(n * 1001);
        EXPECT_EQ(pts, steps) << clip;
        EXPECT_EQ(info["streams"][0]["time_base"], "1/30000");
    }
}

TEST_F(ExportTest, EachFailureHasItsErrorAndKeepsTheEarlierOutput) {
    auto clip = clipWithAudio();
    writeFile(dir / "broken.json", "{\"version\": 1, \"grade\": ");
    ASSERT_EQ(::mkfifo((dir / "fifo.mp4").c_str(), 0644), 0); // opened twice it would block
    makeClickAndFlash(dir / "pcm.mov", "pcm_s16le", 0);
    writeFile(out, "an earlier export");
    auto tinyJob = writeJob(dir / "tiny.json", identityCube, {{"maxWidth", 2}});
    auto pcmJob =
        writeJob(dir / "pcm.json", identityCube, {{"container", "mp4"}, {"audio", "copy"}});
    auto retimeJob = writeJob(dir / "retime.json", identityCube, {{"fps", 30}, {"audio", "copy"}});
    struct {
        fs::path job;
        fs::path input;
        std::string domain;
        long long code;
        std::string mention; // what the description must say beyond domain and code
    } cases[] = {
        {dir / "broken.json", clip, "job", 1, "dataCorrupted"},
        {tinyJob, clip, "export", 4, "too small"}, // for the encoder
        {identityJob, dir / "fifo.mp4", "file", EINVAL, "a FIFO"},
        {pcmJob, dir / "pcm.mov", "export", 13, "(track 1) cannot go into an MPEG-4 file"},
        {retimeJob, clip, "export", 14, "at 25.000 fps and the output at 30.000 fps"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.job.filename().string() + " " + c.input.filename().string());
        auto description = expectFailure([&] { exportTo(out, c.job, c.input); }, c.domain, c.code);
        EXPECT_THAT(description, HasSubstr(c.mention));
    }
    EXPECT_THROW(Exporter::plan({identityJob, std::nullopt, dir / "fifo.mp4", out, std::nullopt}),
                 FileError);
}

// The click still plays with the flash after the sound is copied, wherever the
// source's sound starts and whichever container holds it. The source is measured
// the same way first, which proves the measurement.
TEST_F(ExportTest, CopiedSoundStaysInStepWithThePicture) {
    // Matroska keeps a late first frame's time (MPEG-4 an edit list): the
    // sound must move with the picture that now starts at 0.
    for (auto [source, codec, delay, videoStart, output] :
         {std::tuple{"a.mp4", "aac", 0.0, 0.0, "a.mp4"},
          {"b.mp4", "aac", 0.3, 0.0, "b.mov"},
          {"c.mov", "pcm_s16le", 0.3, 0.0, "c.mov"},
          {"d.mkv", "aac", 0.3, 0.2, "d.mov"}}) {
        makeClickAndFlash(dir / source, codec, delay, videoStart);
        auto graded = dir / (std::string("graded-") + output);
        Exporter::exportVideo({.jobPath = identityJob,
                               .inputPath = dir / source,
                               .outputPath = graded,
                               .copyAudio = true},
                              fast());
        for (const auto& file : {dir / source, graded}) {
            const auto [flash, click] = findFlashAndClick(file);
            EXPECT_NEAR(flash, 0.8, 1e-3) << file;
            EXPECT_NEAR(click, flash, 1024.0 / 48000) << file; // one AAC packet
        }
        auto sound = probe(graded, "-select_streams a")["streams"].at(0);
        EXPECT_EQ(sound.value("codec_name", "?") + "," + sound["tags"].value("language", "?"),
                  std::string(codec) + ",fra");
    }
}

TEST_F(ExportTest, CopiedTagsKeepDatePlaceCameraAndTimecodeButNeverTheTurn) {
    const std::map<std::string, std::string> tags = {
        {"creation_time", "2024-05-01T10:20:30.000000Z"},
        {"location", "+48.8577+002.2950/"},
        {"com.apple.quicktime.location.ISO6709", "+48.8577+002.2950+035.000/"},
        {"com.apple.quicktime.make", "Acme"},
        {"com.apple.quicktime.model", "Pocket 7"}};
    std::string args = "-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 -timecode 01:02:03:04 "
                       "-metadata:s:v:0 rotate=90 -movflags use_metadata_tags";
    for (const auto& [key, value] : tags)
        args += " -metadata " + key + "=" + shellQuote(value);
    makeClip(args, dir / "tagged.mov");
    const ExportRequest request{.jobPath = identityJob,
                                .inputPath = dir / "tagged.mov",
                                .outputPath = out,
                                .copyMetadata = true};
    auto plan = Exporter::plan(request);
    EXPECT_EQ(plan.copiedTags.size() + plan.copiedTimecode.size(), tags.size() + 1 + 11)
        << "location-eng as read, neither the encoder nor the turn; the timecode on its own";
    Exporter::exportVideo(request, fast());
    auto info = probe(out);
    for (const auto& [key, value] : tags)
        EXPECT_EQ(info["format"]["tags"].value(key, "?"), value) << key;
    EXPECT_FALSE(videoStream(out).contains("side_data_list")) << "a copied turn turns twice";
    EXPECT_EQ(info["streams"].back()["tags"].value("timecode", "?"), "01:02:03:04");
}

// The encoder fails on frame 3 once the decoding side has filled the hand-off and
// waits for room: the run must end at once with the encoder's own error chained
// under export error 6, and keep the earlier output.
TEST_F(ExportTest, EncoderFailingPartWayEndsTheRun) {
    struct FailAtThree : ExportHooks {
        std::mutex mutex;
        std::condition_variable handedOver;
        std::int64_t frames = 0;
        void beforeEncoding(std::int64_t index) override {
            if (index != 3)
                return;
            // Frames 4 and 5 wait in the hand-off; 6 is graded and blocks.
            std::unique_lock lock(mutex);
            // Bounded, so that a hand-off that never fills fails the test, not hangs it.
            handedOver.wait_for(lock, std::chrono::seconds(10), [&] { return frames >= 6; });
            throw MediaError(AVERROR(EIO), "send a picture to the HEVC encoder");
        }
    } hooks;
    auto options = fast();
    options.hooks = &hooks;
    options.progress = [&](std::int64_t done, std::int64_t) {
        std::lock_guard lock(hooks.mutex);
        hooks.frames = done;
        hooks.handedOver.notify_all();
    };
    auto clip = clipWithAudio();
    writeFile(out, "an earlier export");
    auto description = expectFailure(
        [&] {
            Exporter::exportVideo({identityJob, std::nullopt, clip, out, std::nullopt}, options);
        },
        "export", 6);
    EXPECT_THAT(description, HasSubstr("could not send a picture to the HEVC encoder"));
    EXPECT_EQ(hooks.frames, 6) << "the producer went on after the encoder failed";
}

// Outputs that would cost the user a file are refused before anything is read: the
// job here is broken, so reading it first would fail differently.
TEST_F(ExportTest, OutputsThatWouldCostAFileAreRefusedFirst) {
    auto clip = clipWithAudio();
    auto job = dir / "broken.json";
    writeFile(job, "{\"version\": 1, \"grade\": ");
    auto lut = dir / "look.cube";
    writeFile(lut, identityCube);
    fs::create_directory(dir / "folder");
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
        {dir / "folder" / ".." / "broken.json", "export", 8, "job file"},
        {dir / "folder" / ".." / "look.cube", "export", 8, "LUT file"},
        {dir / "folder", "file", EISDIR, "folder"},
        {dir / (device ? "null" : "folder"), "file", device ? EINVAL : EISDIR,
         device ? "a character device" : "folder"},
        {dir / "readonly.mov", "file", EACCES, "read-only"},
        {dir / std::string(256, 'n'), "file", ENAMETOOLONG, "longer than the 255 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output.string());
        auto description = expectFailure([&] { exportTo(c.output, job, clip, std::nullopt, lut); },
                                         c.domain, c.code);
        EXPECT_THAT(description, HasSubstr(c.mention));
    }
}

// A cancellation is honoured until the finished file is renamed into place: while
// frames are graded, and at the last check, after the file is finished.
TEST_F(ExportTest, CancelledRunLeavesNothing) {
    struct CancelBeforeRename : ExportHooks {
        CancellationToken* token = nullptr;
        void beforeRename() override { *token = true; }
    };
    auto clip = clipWithAudio();
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
            cancel = cancel || (!beforeRename && done == 3);
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
TEST_F(ExportTest, InputEndingBeforeItsLastFrameFails) {
    auto whole = dir / "whole.mp4";
    makeClip("-f lavfi -i testsrc2=size=64x48:rate=25:duration=1 -c:v libx264 -preset ultrafast "
             "-pix_fmt yuv420p -movflags +faststart",
             whole);
    auto packets = probe(whole, "-select_streams v -show_entries packet=pos,size")["packets"];
    ASSERT_EQ(packets.size(), 25u);
    auto tenth = std::stoll(packets[10]["pos"].get<std::string>());
    auto size = std::stoll(packets[10]["size"].get<std::string>());
    auto bytes = readFile(whole);
    writeFile(out, "an earlier export");
    for (auto cut : {tenth, tenth + size / 2}) {
        SCOPED_TRACE(cut);
        auto clip = dir / "cut.mp4";
        writeFile(clip, bytes.substr(0, static_cast<std::size_t>(cut)));
        auto description = expectFailure([&] { exportTo(out, identityJob, clip); }, "export", 10);
        EXPECT_THAT(description, HasSubstr("10 of the 25 frames"));
    }
    // Without a sample table the stated duration tells: a Matroska file cut in half
    // fails; whole, or with a one-second gap between frames that still reach its
    // end, it does not.
    const auto mkv = dir / "whole.mkv", gap = dir / "gap.mkv", cut = dir / "cut.mkv";
    const std::string source = "-f lavfi -i testsrc2=size=64x48:rate=25:duration=4 -c:v ffv1 ";
    makeClip(source, mkv);
    makeClip(source + "-vf 'setpts=PTS+gt(N\\,50)/TB' -fps_mode vfr", gap);
    writeFile(cut, readFile(mkv).substr(0, readFile(mkv).size() / 2));
    EXPECT_THAT(expectFailure([&] { exportTo(out, identityJob, cut); }, "export", 10),
                HasSubstr("s it states"));
    for (const auto& whole : {mkv, gap})
        EXPECT_EQ(exportTo(out, identityJob, whole).width, 64) << whole;
}

} // namespace
} // namespace vantrel
