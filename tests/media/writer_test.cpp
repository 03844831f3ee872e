#include "media/writer.hpp"

#include <sstream>
#include <thread>

#include "media/error.hpp"
#include "media_clips.hpp"

namespace vantrel::media {
namespace {

using test::folderEntries;

VideoSettings tinySettings() {
    VideoSettings settings;
    settings.width = 64;
    settings.height = 48;
    settings.compressionProperties.expectedSourceFrameRate = 30;
    settings.compressionProperties.maxKeyFrameInterval = 3;
    return settings;
}

// A writer, its input and adaptor, wired the way an export wires them.
struct WriterRig {
    WriterRig(const std::filesystem::path& output, FileType type, VideoSettings settings)
        : writer(output, type), input(settings, {"ultrafast", 30000, 1001}),
          adaptor(input, 64, 48) {
        writer.addInput(input);
    }

    int finish() { // how often the completion ran
        std::atomic<int> completions = 0;
        Semaphore finished(0);
        writer.finishWriting([&] {
            ++completions;
            finished.release();
        });
        finished.acquire();
        return completions;
    }

    bool append(MediaTime time) {
        auto buffer = adaptor.pixelBufferPool()->createPixelBuffer();
        test::fill(buffer->view(), {64, 512, 512});
        return adaptor.appendPixelBuffer(std::move(*buffer), time);
    }

    AssetWriter writer;
    AssetWriterInput input;
    AssetWriterInputPixelBufferAdaptor adaptor;
};

// A movie without a bitrate and an MPEG-4 file with a limited one; x265 records the
// options it ran with in the stream. Tags and decoded values are checked by exports.
TEST(AssetWriter, WritesEveryFrameAtItsTimeWithTheSettingsGiven) {
    for (const bool limited : {false, true}) {
        auto settings = tinySettings();
        if (limited) {
            settings.compressionProperties.averageBitRate = 2'000'000;
            settings.compressionProperties.dataRateLimits = std::array<std::int64_t, 2>{250'000, 1};
        }
        test::ScratchDir dir;
        const auto output = dir / (limited ? "graded.mp4" : "graded.mov");
        {
            WriterRig rig(output, limited ? FileType::mpeg4 : FileType::quickTimeMovie, settings);
            ASSERT_TRUE(rig.writer.startWriting()) << rig.writer.error()->description();
            // Stamped in twice the timescale, one frame late: frame n must still land at
            // n·1001/30000 s. Five frames fill the encoder's delay.
            rig.writer.startSession({1001, 30000});
            for (int n = 0; n < 5; ++n) {
                while (!rig.input.isReadyForMoreMediaData() &&
                       rig.writer.status() == WriterStatus::writing)
                    std::this_thread::yield();
                ASSERT_TRUE(rig.append({2002 + n * 2002, 60000}));
            }
            rig.input.markAsFinished();
            rig.finish();
            ASSERT_EQ(rig.writer.status(), WriterStatus::completed);
        }
        EXPECT_EQ(folderEntries(dir.path()), std::vector{output.filename().string()});
        const auto info = test::probe(output, "-show_packets");
        ASSERT_EQ(info["packets"].size(), 5u) << output;
        for (int n = 0; n < 5; ++n)
            EXPECT_NEAR(std::stod(info["packets"][n]["pts_time"].get<std::string>()),
                        n * 1001 / 30000.0, 1e-6)
                << output << " frame " << n;
        const auto bytes = test::readFile(output);
        EXPECT_NE(bytes.find(limited ? "colrnclx" : "colrnclc"), std::string::npos);
        EXPECT_EQ(bytes.find("gama"), std::string::npos);
        const auto start = bytes.find("options: ");
        ASSERT_NE(start, std::string::npos);
        const std::string options = bytes.substr(start, bytes.find('\0', start) - start) + ' ';
        std::istringstream expected(
            std::string("keyint=3 no-open-gop bframes=0 no-repeat-headers "
                        "range=1 colorprim=1 transfer=1 colormatrix=1 ") +
            (limited ? "bitrate=2000 vbv-maxrate=2000 vbv-bufsize=2000" : "rc=crf"));
        for (std::string token; expected >> token;)
            EXPECT_NE(options.find(' ' + token + ' '), std::string::npos) << token;
        EXPECT_EQ(options.find(" rc=crf ") == std::string::npos, limited);
    }
}

TEST(AssetWriter, RefusesAnOutputInAFolderThatIsNotThere) {
    EXPECT_THAT([] { AssetWriter("/no-such-folder/out.mov", FileType::quickTimeMovie); },
                testing::Throws<FileError>(testing::Property(&Error::code, ENOENT)));
}

// Whatever stops a writer, what it wrote goes, an earlier output stays, finishing
// reports once; a producer block is called at once, once more when the writer stops
// (also from another thread while it waits), but never after finishing.
TEST(AssetWriter, EndingWithoutAResultLeavesOnlyTheEarlierOutput) {
    enum class End { refused, noFrames, cancelled, encodingFailed, failedPartWay };
    const struct {
        std::string error;
        long long code;
    } expected[] = {{"primaries \"P3_D65\"", static_cast<int>(MediaFailure::unsupported)},
                    {"no picture", static_cast<int>(MediaFailure::noVideo)},
                    {"", 0},
                    {"encode a picture", static_cast<int>(MediaFailure::wrongPicture)},
                    {"send a picture to the HEVC encoder", static_cast<int>(MediaCode::library)}};
    for (const End end :
         {End::refused, End::noFrames, End::cancelled, End::encodingFailed, End::failedPartWay}) {
        const std::string& error = expected[static_cast<int>(end)].error;
        SCOPED_TRACE(static_cast<int>(end));
        test::ScratchDir dir;
        const auto output = dir / "previous.mov";
        test::writeFile(output, "previous export");
        auto settings = tinySettings();
        if (end == End::refused)
            settings.colourProperties.colourPrimaries = ColourPrimaries::p3D65;
        failWritersAfterFrames(end == End::failedPartWay ? 2 : -1);
        const auto stopped = end == End::cancelled ? WriterStatus::cancelled : WriterStatus::failed;
        SerialQueue queue("test.export");
        std::vector<WriterStatus> seen; // by the producer block, other than writing
        {
            WriterRig rig(output, FileType::quickTimeMovie, settings);
            Semaphore called(0);
            rig.input.requestMediaDataWhenReady(queue, [&] {
                if (rig.writer.status() != WriterStatus::writing)
                    seen.push_back(rig.writer.status());
                called.release();
            });
            called.acquire();
            EXPECT_EQ(rig.writer.startWriting(), end != End::refused);
            PixelBufferPool wrongSize(32, 32);
            switch (end) {
            case End::refused:
                EXPECT_EQ(rig.adaptor.pixelBufferPool(), nullptr);
                break;
            case End::noFrames:
                rig.input.markAsFinished();
                break;
            case End::cancelled:
                ASSERT_TRUE(rig.append({0, 1}));
                EXPECT_EQ(folderEntries(dir.path()).size(), 2u); // written under another name
                std::thread([&] { rig.writer.cancelWriting(); }).join();
                EXPECT_FALSE(rig.append({1, 1}));
                break;
            case End::encodingFailed:
                ASSERT_TRUE(rig.adaptor.appendPixelBuffer(std::move(*wrongSize.createPixelBuffer()),
                                                          {0, 1}));
                while (rig.writer.status() == WriterStatus::writing)
                    std::this_thread::yield();
                break;
            case End::failedPartWay:
                // The producer keeps appending while it can; the writer stops on the third.
                for (std::int64_t n = 0; rig.writer.status() == WriterStatus::writing && n < 50;)
                    if (rig.input.isReadyForMoreMediaData() && rig.append({n, 25}))
                        ++n;
                break;
            }
            EXPECT_EQ(rig.finish(), 1);
            rig.writer.cancelWriting();
            EXPECT_EQ(rig.writer.status(), stopped);
            const auto e = rig.writer.error();
            EXPECT_EQ(e.has_value(), !error.empty());
            EXPECT_THAT(e ? e->description() : "", testing::HasSubstr(error));
            EXPECT_EQ(e ? e->code() : 0, expected[static_cast<int>(end)].code);
            Semaphore drained(0); // after every call the writer scheduled
            queue.async([&] { drained.release(); });
            drained.acquire();
            // A call already due when the writer stopped may see the stop too.
            seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
            // After markAsFinished nothing new is scheduled, but a call already due
            // may still run and see the writer stopped.
            if (end == End::noFrames && seen.size() == 1)
                seen.push_back(stopped);
            EXPECT_EQ(seen, (std::vector{WriterStatus::unknown, stopped}));
        }
        EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"previous.mov"});
        EXPECT_EQ(test::readFile(output), "previous export");
    }
    failWritersAfterFrames(-1);
}

} // namespace
} // namespace vantrel::media
