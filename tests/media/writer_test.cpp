#include "media/writer.hpp"

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace vantrel::media {
namespace {

using test::ScratchDir;

struct Flat {
    std::uint16_t y, cb, cr;
};

const std::vector<Flat> knownColours = {
    {64, 512, 512}, {940, 448, 600}, {1023, 0, 1023}, {0, 1023, 0}, {512, 300, 700}};

VideoSettings tinySettings() {
    VideoSettings settings;
    settings.width = 64;
    settings.height = 48;
    settings.compressionProperties.expectedSourceFrameRate = 30;
    settings.compressionProperties.maxKeyFrameInterval = 3;
    return settings;
}

void fill(const PictureView& view, Flat colour) {
    const std::uint16_t values[3] = {colour.y, colour.cb, colour.cr};
    for (int p = 0; p < 3; ++p) {
        for (int row = 0; row < (p == 0 ? view.height : view.height / 2); ++row) {
            auto* samples =
                reinterpret_cast<std::uint16_t*>(view.planes[p].data + row * view.planes[p].stride);
            std::fill(samples, samples + (p == 0 ? view.width : view.width / 2), values[p]);
        }
    }
}

std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string readBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A writer, its input and adaptor, wired the way an export wires them.
struct WriterRig {
    WriterRig(const std::filesystem::path& output, FileType type,
              VideoSettings settings = tinySettings(),
              EncoderOptions options = {"ultrafast", 30000, 1001})
        : writer(output, type), input(settings, options), adaptor(input, 64, 48) {
        EXPECT_TRUE(writer.canAddInput(input));
        writer.addInput(input);
    }

    void finish() {
        Semaphore finished(0);
        writer.finishWriting([&] { finished.release(); });
        finished.acquire();
    }

    // Runs the frames through an export-shaped producer on a serial queue: pull
    // while the input is ready, frame n stamped offset + n·step in `timescale`.
    void encode(const std::vector<Flat>& frames, MediaTime sessionStart = {0, 1},
                std::int32_t timescale = 30000, std::int64_t step = 1001, std::int64_t offset = 0) {
        ASSERT_TRUE(writer.startWriting()) << writer.error()->description();
        writer.startSession(sessionStart);
        std::size_t next = 0;
        bool done = false;
        Semaphore drained(0);
        auto stop = [&] {
            done = true;
            drained.release();
        };
        {
            SerialQueue queue("test.export");
            input.requestMediaDataWhenReady(queue, [&] {
                while (!done && input.isReadyForMoreMediaData()) {
                    if (next == frames.size()) {
                        input.markAsFinished();
                        return stop();
                    }
                    auto buffer = adaptor.pixelBufferPool()->createPixelBuffer();
                    fill(buffer->view(), frames[next]);
                    const MediaTime time{offset + std::int64_t(next) * step, timescale};
                    if (!adaptor.appendPixelBuffer(std::move(*buffer), time))
                        return stop();
                    ++next;
                }
                if (!done && writer.status() != WriterStatus::writing)
                    stop();
            });
            drained.acquire();
        }
        EXPECT_EQ(next, frames.size());
        finish();
        ASSERT_EQ(writer.status(), WriterStatus::completed) << writer.error()->description();
    }

    AssetWriter writer;
    AssetWriterInput input;
    AssetWriterInputPixelBufferAdaptor adaptor;
};

// ---------------------------------------------------------------------------
// What lands in the file

class WriterOutput : public testing::TestWithParam<FileType> {};

TEST_P(WriterOutput, EveryFrameAtItsTimeAsTaggedMain10ThatDecodesToTheValuesWritten) {
    const bool mp4 = GetParam() == FileType::mpeg4;
    ScratchDir dir;
    const auto output = dir / (mp4 ? "graded.mp4" : "graded.mov");
    // A bitrate generous enough for the ±2 tolerance below.
    auto settings = tinySettings();
    settings.compressionProperties.averageBitRate = 8'000'000;
    settings.compressionProperties.dataRateLimits = std::array<std::int64_t, 2>{1'000'000, 1};
    WriterRig rig(output, GetParam(), settings);
    // Stamped in twice the timescale and starting one frame late: frame n must
    // still land at n·1001/30000 s.
    rig.encode(knownColours, {1001, 30000}, 60000, 2002, 2002);
    EXPECT_EQ(folderEntries(dir.path()), std::vector{output.filename().string()});

    const auto info = test::probe(output, "-count_frames -show_packets");
    ASSERT_EQ(info["streams"].size(), 1u);
    const auto& stream = info["streams"][0];
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"codec_name", "hevc"},
             {"profile", "Main 10"},
             {"pix_fmt", "yuv420p10le"},
             {"codec_tag_string", "hvc1"},
             {"color_range", "pc"},
             {"color_space", "bt709"},
             {"color_transfer", "bt709"},
             {"color_primaries", "bt709"},
             {"nb_read_frames", std::to_string(knownColours.size())}})
        EXPECT_EQ(stream[key], value) << key;
    EXPECT_EQ(stream["has_b_frames"], 0);
    EXPECT_EQ(info["format"]["tags"]["major_brand"], mp4 ? "isom" : "qt  ");

    const auto timeBase = stream["time_base"].get<std::string>();
    const long long tbNum = std::stoll(timeBase);
    const long long tbDen = std::stoll(timeBase.substr(timeBase.find('/') + 1));
    const auto& packets = info["packets"];
    ASSERT_EQ(packets.size(), knownColours.size());
    int sinceKey = 0;
    for (std::size_t n = 0; n < packets.size(); ++n) {
        EXPECT_EQ(packets[n]["pts"].get<long long>() * tbNum * 30000, (long long)n * 1001 * tbDen)
            << "frame " << n;
        sinceKey = packets[n]["flags"].get<std::string>()[0] == 'K' ? 0 : sinceKey + 1;
        EXPECT_LT(sinceKey, 3) << "key frames further apart than the interval at " << n;
    }

    const auto bytes = readBytes(output);
    EXPECT_NE(bytes.find(mp4 ? "colrnclx" : "colrnclc"), std::string::npos);
    EXPECT_EQ(bytes.find("gama"), std::string::npos);

    const auto decoded =
        test::run("ffmpeg -nostdin -v error -i " + test::shellQuote(output.string()) +
                  " -f rawvideo -pix_fmt yuv420p10le -");
    ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
    const std::size_t planeSamples[3] = {64 * 48, 32 * 24, 32 * 24};
    const std::size_t frameBytes = 2 * (64 * 48 + 2 * 32 * 24);
    ASSERT_EQ(decoded.out.size(), knownColours.size() * frameBytes);
    const char* sample = decoded.out.data();
    for (const Flat& colour : knownColours) {
        const int expected[3] = {colour.y, colour.cb, colour.cr};
        for (int p = 0; p < 3; ++p) {
            int worst = 0;
            for (std::size_t i = 0; i < planeSamples[p]; ++i, sample += 2) {
                std::uint16_t value;
                std::memcpy(&value, sample, 2);
                worst = std::max(worst, std::abs(value - expected[p]));
            }
            EXPECT_LE(worst, 2) << "plane " << p << " written as " << expected[p];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AssetWriter, WriterOutput,
                         testing::Values(FileType::quickTimeMovie, FileType::mpeg4),
                         [](const auto& info) {
                             return info.param == FileType::mpeg4 ? "mpeg4" : "quickTimeMovie";
                         });

struct ConfigurationCase {
    std::string name;
    bool reordering;
    std::optional<std::array<std::int64_t, 2>> limit; // with a 2 Mbit/s average when set
    std::vector<std::string> present, absent;
    friend void PrintTo(const ConfigurationCase& c, std::ostream* out) { *out << c.name; }
};

class EncoderConfiguration : public testing::TestWithParam<ConfigurationCase> {};

// x265 records the configuration it ran with in the stream: reading it back shows
// what the settings turned into.
TEST_P(EncoderConfiguration, SettingsReachTheEncoder) {
    const auto& c = GetParam();
    auto settings = tinySettings();
    settings.compressionProperties.allowFrameReordering = c.reordering;
    if (c.limit) {
        settings.compressionProperties.averageBitRate = 2'000'000;
        settings.compressionProperties.dataRateLimits = c.limit;
    }
    ScratchDir dir;
    WriterRig rig(dir / "configured.mp4", FileType::mpeg4, settings);
    // Enough pictures to fill the encoder's reordering delay: with fewer, x265
    // stamps the first packet with an undefined decode time.
    rig.encode(knownColours);

    const auto bytes = readBytes(dir / "configured.mp4");
    const auto start = bytes.find("options: ");
    ASSERT_NE(start, std::string::npos);
    std::set<std::string> tokens;
    std::istringstream words(bytes.substr(start, bytes.find('\0', start) - start));
    for (std::string word; words >> word;)
        tokens.insert(word);
    for (const char* always :
         {"keyint=3", "no-open-gop", "range=1", "colorprim=1", "transfer=1", "colormatrix=1"})
        EXPECT_TRUE(tokens.count(always)) << always;
    for (const auto& token : c.present)
        EXPECT_TRUE(tokens.count(token)) << token;
    for (const auto& token : c.absent)
        EXPECT_FALSE(tokens.count(token)) << token;
}

INSTANTIATE_TEST_SUITE_P(
    AssetWriter, EncoderConfiguration,
    testing::Values(
        ConfigurationCase{
            "withoutBitrate", false, {}, {"bframes=0", "rc=crf", "no-repeat-headers"}, {}},
        ConfigurationCase{"limitOverOneSecond",
                          false,
                          std::array<std::int64_t, 2>{250'000, 1},
                          {"bitrate=2000", "vbv-maxrate=2000", "vbv-bufsize=2000"},
                          {"rc=crf"}},
        ConfigurationCase{"limitOverTwoSeconds",
                          false,
                          std::array<std::int64_t, 2>{1'000'000, 2},
                          {"vbv-maxrate=4000", "vbv-bufsize=4000"},
                          {}},
        ConfigurationCase{"reorderingAllowed", true, {}, {}, {"bframes=0"}}),
    [](const auto& info) { return info.param.name; });

struct RefusedCase {
    std::string name;
    void (*change)(VideoSettings&, EncoderOptions&);
    std::string causeMentions;
    friend void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }
};

class RefusedSettings : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedSettings, StartWritingFailsAndLeavesNoFile) {
    auto settings = tinySettings();
    EncoderOptions options{"ultrafast", 30000, 1001};
    GetParam().change(settings, options);
    ScratchDir dir;
    WriterRig rig(dir / "refused.mov", FileType::quickTimeMovie, settings, options);
    EXPECT_FALSE(rig.writer.startWriting());
    EXPECT_EQ(rig.writer.status(), WriterStatus::failed);
    ASSERT_TRUE(rig.writer.error());
    EXPECT_EQ(rig.writer.error()->domain(), "media");
    EXPECT_NE(rig.writer.error()->description().find(GetParam().causeMentions), std::string::npos)
        << rig.writer.error()->description();
    EXPECT_FALSE(rig.input.isReadyForMoreMediaData());
    EXPECT_EQ(rig.adaptor.pixelBufferPool(), nullptr);
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

using S = VideoSettings;
using O = EncoderOptions;
INSTANTIATE_TEST_SUITE_P(
    AssetWriter, RefusedSettings,
    testing::Values(
        RefusedCase{"codec", [](S& s, O&) { s.codec = "h264"; }, "\"h264\""},
        RefusedCase{"primaries", [](S& s, O&) { s.colourProperties.colourPrimaries = "P3_D65"; },
                    "primaries \"P3_D65\""},
        RefusedCase{"matrix", [](S& s, O&) { s.colourProperties.yCbCrMatrix = "ITU_R_601_4"; },
                    "matrix \"ITU_R_601_4\""},
        RefusedCase{"profile",
                    [](S& s, O&) { s.compressionProperties.profileLevel = "HEVC_Main_AutoLevel"; },
                    "\"HEVC_Main_AutoLevel\""},
        RefusedCase{"oddWidth", [](S& s, O&) { s.width = 65; }, "65x48"},
        RefusedCase{"unknownPreset", [](S&, O& o) { o.preset = "warp-speed"; },
                    "Could not open the HEVC encoder."}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Files left behind

TEST(AssetWriter, RefusesAnOutputWhoseFolderCannotBeWrittenInto) {
    ScratchDir dir;
    std::ofstream(dir / "plain-file") << "not a folder";
    for (const auto& [output, code] : {std::pair{dir / "missing" / "out.mov", ENOENT},
                                       std::pair{dir / "plain-file" / "out.mov", ENOTDIR}}) {
        try {
            AssetWriter writer(output, FileType::quickTimeMovie);
            ADD_FAILURE() << "no error for " << output;
        } catch (const FileError& error) {
            EXPECT_EQ(error.code(), code) << output;
        }
    }
}

TEST(AssetWriter, ZeroFramesFailAndLeaveNothing) {
    ScratchDir dir;
    WriterRig rig(dir / "empty.mov", FileType::quickTimeMovie);
    ASSERT_TRUE(rig.writer.startWriting());
    rig.writer.startSession({0, 1});
    rig.input.markAsFinished();
    rig.finish();
    EXPECT_EQ(rig.writer.status(), WriterStatus::failed);
    ASSERT_TRUE(rig.writer.error());
    EXPECT_NE(rig.writer.error()->description().find("no picture"), std::string::npos);
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

TEST(AssetWriter, CancellingRemovesWhatWasWrittenAndKeepsWhatWasAtTheOutput) {
    ScratchDir dir;
    const auto output = dir / "previous.mov";
    std::ofstream(output) << "previous export";
    WriterRig rig(output, FileType::quickTimeMovie);
    ASSERT_TRUE(rig.writer.startWriting());
    PixelBufferPool* pool = rig.adaptor.pixelBufferPool();
    ASSERT_TRUE(rig.adaptor.appendPixelBuffer(std::move(*pool->createPixelBuffer()), {0, 1}));
    EXPECT_EQ(folderEntries(dir.path()).size(), 2u); // beside the output, under another name

    rig.writer.cancelWriting();
    EXPECT_EQ(rig.writer.status(), WriterStatus::cancelled);
    EXPECT_FALSE(rig.writer.error());
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"previous.mov"});
    EXPECT_FALSE(rig.adaptor.appendPixelBuffer(std::move(*pool->createPixelBuffer()), {1, 1}));
    rig.writer.cancelWriting();
    rig.finish(); // still reports, and changes nothing
    EXPECT_EQ(rig.writer.status(), WriterStatus::cancelled);
    EXPECT_EQ(readBytes(output), "previous export");
}

TEST(AssetWriter, DestroyingAnUnfinishedWriterRemovesItsFile) {
    ScratchDir dir;
    {
        WriterRig rig(dir / "abandoned.mp4", FileType::mpeg4);
        ASSERT_TRUE(rig.writer.startWriting());
        auto buffer = rig.adaptor.pixelBufferPool()->createPixelBuffer();
        ASSERT_TRUE(rig.adaptor.appendPixelBuffer(std::move(*buffer), {0, 1}));
    }
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

TEST(AssetWriter, AnEncodingFailureFailsTheWriterAndRemovesItsFile) {
    ScratchDir dir;
    WriterRig rig(dir / "broken.mov", FileType::quickTimeMovie);
    ASSERT_TRUE(rig.writer.startWriting());
    PixelBufferPool wrongSize(32, 32);
    ASSERT_TRUE(rig.adaptor.appendPixelBuffer(std::move(*wrongSize.createPixelBuffer()), {0, 1}));
    while (rig.writer.status() == WriterStatus::writing)
        std::this_thread::yield();

    EXPECT_EQ(rig.writer.status(), WriterStatus::failed);
    ASSERT_TRUE(rig.writer.error());
    EXPECT_EQ(rig.writer.error()->reason(), "Could not encode a picture.");
    int completions = 0;
    Semaphore finished(0);
    rig.writer.finishWriting([&] {
        ++completions;
        finished.release();
    });
    finished.acquire();
    rig.writer.cancelWriting(); // after the end: no effect
    EXPECT_EQ(rig.writer.status(), WriterStatus::failed);
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

// ---------------------------------------------------------------------------
// The producer's block

TEST(AssetWriter, AWaitingProducerIsCalledAgainWhenAnotherThreadCancels) {
    ScratchDir dir;
    WriterRig rig(dir / "waiting.mov", FileType::quickTimeMovie);
    ASSERT_TRUE(rig.writer.startWriting());
    Semaphore noticed(0);
    bool told = false;
    int appended = 0;
    {
        SerialQueue queue("test.export");
        rig.input.requestMediaDataWhenReady(queue, [&] {
            if (rig.writer.status() != WriterStatus::writing) {
                if (!std::exchange(told, true))
                    noticed.release();
                return;
            }
            // Two frames, then the producer waits for something else.
            while (appended < 2 && rig.input.isReadyForMoreMediaData()) {
                auto buffer = rig.adaptor.pixelBufferPool()->createPixelBuffer();
                rig.adaptor.appendPixelBuffer(std::move(*buffer), {appended++, 30});
            }
        });
        std::thread([&] { rig.writer.cancelWriting(); }).join();
        // A generous bound, only so that a missed call fails instead of hanging.
        ASSERT_TRUE(noticed.try_acquire_for(std::chrono::seconds(60)))
            << "the producer was not called after the writer stopped";
    }
}

enum class Stop { failedStart, cancelBeforeStart, markedFinished };

class ProducerWake : public testing::TestWithParam<Stop> {};

TEST_P(ProducerWake, TheBlockIsCalledOnceMoreWhenTheWriterStopsButNeverAfterFinishing) {
    auto settings = tinySettings();
    if (GetParam() == Stop::failedStart)
        settings.colourProperties.colourPrimaries = "P3_D65";
    ScratchDir dir;
    WriterRig rig(dir / "wake.mov", FileType::quickTimeMovie, settings);
    std::vector<WriterStatus> seen;
    {
        SerialQueue queue("test.export");
        Semaphore firstCallDone(0);
        // Registered before writing starts: the first call finds the input not ready.
        rig.input.requestMediaDataWhenReady(queue, [&] {
            seen.push_back(rig.writer.status());
            if (seen.size() == 1)
                firstCallDone.release();
        });
        firstCallDone.acquire();
        switch (GetParam()) {
        case Stop::failedStart:
            EXPECT_FALSE(rig.writer.startWriting());
            break;
        case Stop::markedFinished:
            rig.input.markAsFinished();
            [[fallthrough]];
        case Stop::cancelBeforeStart:
            rig.writer.cancelWriting();
            break;
        }
    } // the queue runs whatever was scheduled before it goes
    switch (GetParam()) {
    case Stop::failedStart:
        EXPECT_EQ(seen, (std::vector{WriterStatus::unknown, WriterStatus::failed}));
        break;
    case Stop::cancelBeforeStart:
        EXPECT_EQ(seen, (std::vector{WriterStatus::unknown, WriterStatus::cancelled}));
        break;
    case Stop::markedFinished:
        EXPECT_EQ(seen, std::vector{WriterStatus::unknown});
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(AssetWriter, ProducerWake,
                         testing::Values(Stop::failedStart, Stop::cancelBeforeStart,
                                         Stop::markedFinished));

} // namespace
} // namespace vantrel::media
