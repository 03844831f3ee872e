// `vantrel-cli batch`: one job over many clips, each an ordinary export, with resume,
// a report and a progress line. Clips are independent: one that fails is reported
// and the batch goes on.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unistd.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "cli/batch_plan.hpp"
#include "cli/batch_progress.hpp"
#include "cli/commands.hpp"
#include "cli/error_report.hpp"
#include "cli/output.hpp"
#include "cli/signals.hpp"
#include "exporter/exporter.hpp"

namespace vantrel::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct BatchArguments {
    std::string job;
    std::string lut;
    std::string outputDir;
    std::string bitrateMbps;
    std::string preset = "medium";
    JobOverrides overrides;
    std::string report;
    std::string shard;
    int jobs = 1;
    bool list = false;
    bool force = false;
    std::vector<std::string> inputs;
};

// `cancelled` is an export stopped by a signal: it did not end, so it is neither
// counted nor reported and the next run grades it again.
enum class ClipStatus { done, failed, skipped, cancelled };

struct ClipOutcome {
    ClipStatus status = ClipStatus::failed;
    std::optional<Error> error; // when failed
    std::int64_t frames = 0;
    double seconds = 0;
    std::vector<std::string> warnings; // what the export could not apply as meant
};

const char* statusName(ClipStatus status) {
    switch (status) {
    case ClipStatus::done:
        return "done";
    case ClipStatus::failed:
        return "failed";
    case ClipStatus::skipped:
        return "skipped";
    case ClipStatus::cancelled:
        return "cancelled";
    }
    return "failed";
}

std::string clipCount(std::size_t count) {
    return fmt::format("{} {}", count, count == 1 ? "clip" : "clips");
}

// Runs the clips on `jobs` threads. Everything the threads share (counters, the
// progress line, stdout/stderr, the report) goes through one mutex; the exports
// themselves run unlocked.
class BatchRun {
public:
    BatchRun(const BatchArguments& args, std::vector<BatchClip> clips, std::ostream* report,
             const CancellationToken& stop, std::shared_ptr<const std::string> jobBytes,
             std::shared_ptr<const LutText> lutText, std::set<fs::path> othersFolders)
        : args_(args), clips_(std::move(clips)), report_(report), stop_(stop),
          jobBytes_(std::move(jobBytes)), lutText_(std::move(lutText)),
          othersFolders_(std::move(othersFolders)),
          slots_(std::clamp<std::size_t>(static_cast<std::size_t>(args.jobs), 1,
                                         std::max<std::size_t>(clips_.size(), 1))),
          lut_(args.lut.empty() ? std::nullopt : std::optional<fs::path>(args.lut)),
          bitrate_(bitrateOverrideOrWarn(args.bitrateMbps)), terminal_(isatty(STDERR_FILENO) != 0) {
    }

    int run() {
        std::vector<std::thread> workers;
        running_ = slots_.size();
        for (std::size_t slot = 0; slot < slots_.size(); ++slot)
            workers.emplace_back([this, slot] {
                work(slot);
                std::lock_guard lock(mutex_);
                --running_;
                ended_.notify_all();
            });
        waitForWorkers();
        for (auto& worker : workers)
            worker.join();
        removeFoldersLeftEmpty();
        clearLine();
        return summarise();
    }

private:
    // A stop ends the run within a second whatever the exports are doing (an
    // encoder busy with a large frame, a read that blocks): past that, the partial
    // files go and the process leaves as the second signal would make it.
    void waitForWorkers() {
        std::unique_lock lock(mutex_);
        std::optional<Clock::time_point> deadline;
        while (running_ > 0) {
            if (stop_ && !deadline)
                deadline = Clock::now() + std::chrono::seconds(1);
            if (deadline && Clock::now() >= *deadline) {
                clearLine();
                const int code = summarise();
                Exporter::removePartialFilesNow();
                std::fflush(stdout);
                std::_Exit(code);
            }
            // The signal handler can only set the token, so the token is looked at
            // now and then rather than waited on.
            ended_.wait_for(lock, std::chrono::milliseconds(100));
        }
    }

    // Folders made for outputs that never came (a clip that failed) are removed
    // again, deepest first; a folder that holds anything stays, and so does one that
    // another shard's outputs go into, for that shard may be about to write there.
    void removeFoldersLeftEmpty() {
        std::sort(createdFolders_.begin(), createdFolders_.end(),
                  [](const fs::path& a, const fs::path& b) { return a.native() > b.native(); });
        for (const auto& folder : createdFolders_) {
            std::error_code ignored;
            if (!othersFolders_.contains(folder))
                fs::remove(folder, ignored);
        }
    }

    void createFolderFor(const fs::path& output) {
        auto folder = output.parent_path();
        if (folder.empty())
            return;
        std::vector<fs::path> missing;
        std::error_code error;
        for (auto f = folder; !f.empty() && !fs::exists(fs::symlink_status(f, error));
             f = f.parent_path()) {
            missing.push_back(f);
            if (f == f.parent_path())
                break;
        }
        const bool created = fs::create_directories(folder, error);
        {
            std::lock_guard lock(mutex_);
            for (const auto& f : missing)
                if (fs::is_directory(fs::symlink_status(f, error)))
                    createdFolders_.push_back(f);
        }
        if (!created && error)
            throw FileError(error.value(), "create the folder", folder);
    }

    void work(std::size_t slot) {
        for (;;) {
            std::size_t index = 0;
            {
                std::lock_guard lock(mutex_);
                if (next_ >= clips_.size() || stop_)
                    return;
                index = next_++;
                slots_[slot] = RunningClip{clips_[index].input.filename().string(), 0, 0};
            }
            auto outcome = grade(clips_[index], slot);
            std::lock_guard lock(mutex_);
            slots_[slot] = RunningClip{};
            record(clips_[index], outcome);
        }
    }

    ClipOutcome grade(const BatchClip& clip, std::size_t slot) {
        std::error_code error;
        // Only complete files are ever renamed into place, so a file at the output
        // is a finished one. Anything else there (a folder) is for the export to
        // refuse: a clip that cannot be written is a failure, not a skip.
        if (!args_.force && fs::is_regular_file(clip.output, error))
            return {ClipStatus::skipped, {}, 0, 0, {}};
        auto started = Clock::now();
        auto seconds = [&] {
            return std::chrono::duration<double>(Clock::now() - started).count();
        };
        std::int64_t frames = 0;
        try {
            createFolderFor(clip.output);
            ExportOptions options;
            options.preset = args_.preset;
            options.cancellation = &stop_;
            options.progress = [this, slot, &frames](std::int64_t done, std::int64_t expected) {
                frames = done;
                std::lock_guard lock(mutex_);
                slots_[slot].framesDone = done;
                slots_[slot].framesExpected = expected;
                showProgress(false);
            };
            ExportRequest request{args_.job, lut_, clip.input, clip.output, bitrate_};
            args_.overrides.applyTo(request);
            request.jobBytes = jobBytes_;
            request.lutText = lutText_;
            auto result = Exporter::exportVideo(request, options);
            return {ClipStatus::done, {}, frames, seconds(), std::move(result.warnings)};
        } catch (const ExportCancelled&) {
            return {ClipStatus::cancelled, {}, frames, seconds(), {}};
        } catch (const Error& failure) {
            return {ClipStatus::failed, failure, frames, seconds(), {}};
        } catch (const std::exception& failure) {
            return {ClipStatus::failed,
                    Error(BatchCode::clipFailed, failure.what()),
                    frames,
                    seconds(),
                    {}};
        }
    }

    // Called with the mutex held.
    void record(const BatchClip& clip, const ClipOutcome& outcome) {
        if (outcome.status == ClipStatus::cancelled)
            return;
        clearLine();
        for (const auto& warning : outcome.warnings)
            printText(stderr, "vantrel-cli: warning: {}: {}\n", clip.input.string(), warning);
        switch (outcome.status) {
        case ClipStatus::done:
            ++done_;
            printText("Done: {}\n", clip.output.string());
            break;
        case ClipStatus::failed:
            ++failed_;
            failures_.push_back({clip, outcome});
            printText(stderr, "Failed: {}: {}\n", clip.input.string(),
                      outcome.error->description());
            break;
        case ClipStatus::skipped:
            ++skipped_;
            printText("Skipped: {} exists\n", clip.output.string());
            break;
        case ClipStatus::cancelled:
            break;
        }
        std::fflush(stdout);
        writeReportLine(clip, outcome);
        showProgress(true);
    }

    void writeReportLine(const BatchClip& clip, const ClipOutcome& outcome) {
        if (!report_)
            return;
        nlohmann::json line = {
            {"input", clip.input.string()},
            {"output", clip.output.string()},
            {"status", statusName(outcome.status)},
        };
        if (outcome.status == ClipStatus::failed)
            line["error"] = errorJson(*outcome.error);
        line["warnings"] = outcome.warnings;
        line["frames"] = outcome.frames;
        line["seconds"] = outcome.seconds;
        // File names need not be UTF-8; JSON text must be.
        *report_ << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        report_->flush();
    }

    // Called with the mutex held.
    void showProgress(bool force) {
        if (!terminal_ || stop_)
            return;
        auto now = Clock::now();
        if (!force && now - lastShown_ < std::chrono::milliseconds(200))
            return;
        lastShown_ = now;
        const auto line = batchProgressLine({clips_.size(), done_, failed_, skipped_}, slots_,
                                            std::chrono::duration<double>(now - started_).count());
        printText(stderr, "\r\033[K{}", line);
        std::fflush(stderr);
        lineShown_ = true;
    }

    void clearLine() {
        if (lineShown_)
            std::fputs("\r\033[K", stderr);
        lineShown_ = false;
    }

    int summarise() {
        auto counts = fmt::format("{} done, {} failed, {} skipped", done_, failed_, skipped_);
        if (stop_) {
            auto ended = done_ + failed_ + skipped_;
            printText("Batch stopped: {} of {} ended ({}); finished outputs are kept.\n", ended,
                      clipCount(clips_.size()), counts);
        } else {
            printText("Batch: {}: {}.\n", clipCount(clips_.size()), counts);
        }
        for (const auto& [clip, outcome] : failures_)
            printText("Failed: {}: {}\n", clip.input.string(), outcome.error->description());
        std::fflush(stdout);
        bool reportLost = report_ && !report_->good();
        if (reportLost)
            printText(stderr, "vantrel-cli: the report {} could not be written completely.\n",
                      args_.report);
        if (stop_)
            return 130;
        return failed_ > 0 || reportLost ? 1 : 0;
    }

    const BatchArguments& args_;
    const std::vector<BatchClip> clips_;
    std::ostream* report_;
    const CancellationToken& stop_;

    const std::shared_ptr<const std::string> jobBytes_;
    const std::shared_ptr<const LutText> lutText_;
    const std::set<fs::path> othersFolders_; // other shards' output folders, and those above

    std::mutex mutex_;
    std::condition_variable ended_; // a worker returned
    std::size_t running_ = 0;
    std::vector<fs::path> createdFolders_;
    std::vector<RunningClip> slots_;
    std::size_t next_ = 0;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
    std::size_t skipped_ = 0;
    std::vector<std::pair<BatchClip, ClipOutcome>> failures_;

    const std::optional<fs::path> lut_;
    const std::optional<std::int64_t> bitrate_;
    const bool terminal_;
    bool lineShown_ = false;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastShown_;
};

int usageError(const std::string& message) {
    printText(stderr, "vantrel-cli batch: {}\n", message);
    return 2;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

// Outputs usually do not exist yet: compared by the part of their path that does.
fs::path resolved(const fs::path& path) {
    std::error_code error;
    auto absolute = fs::absolute(path, error);
    auto canonical = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : canonical;
}

// Why the report must not be written at `report`, or nothing: opening it truncates
// whatever it names, so it may not be any file the batch reads or writes (by any
// spelling or link), nor anything but a regular file. `clips` is the whole plan,
// every shard's outputs included.
std::optional<std::string> unsafeReport(const BatchArguments& args,
                                        const std::vector<BatchClip>& clips) {
    const fs::path report = args.report;
    std::error_code error;
    const auto status = fs::status(report, error);
    if (fs::exists(status) && !fs::is_regular_file(status))
        return fs::is_directory(status) ? "it is a folder" : "it is not a regular file";
    if (sameFile(report, args.job))
        return "it is the job file";
    if (!args.lut.empty() && sameFile(report, args.lut))
        return "it is the LUT file";
    const auto where = resolved(report);
    for (const auto& clip : clips) {
        if (sameFile(report, clip.input))
            return fmt::format("it is the clip {}", clip.input.string());
        if (sameFile(report, clip.output) || resolved(clip.output) == where)
            return fmt::format("it is the output of {}", clip.input.string());
    }
    return std::nullopt;
}

int runBatch(const BatchArguments& args) {
    std::vector<BatchClip> clips;
    try {
        clips = planBatch({args.inputs.begin(), args.inputs.end()}, args.outputDir);
    } catch (const Error& error) {
        return usageError(error.description());
    }
    if (!args.report.empty())
        if (auto why = unsafeReport(args, clips))
            return usageError(
                fmt::format("will not write the report to {}: {}", args.report, *why));
    std::set<fs::path> othersFolders;
    if (!args.shard.empty()) {
        const auto shard = *parseShard(args.shard);
        for (std::size_t i = 0; i < clips.size(); ++i)
            if (!inShard(i, shard))
                for (auto f = clips[i].output.parent_path(); !f.empty() && f != f.parent_path();
                     f = f.parent_path())
                    othersFolders.insert(f);
        clips = takeShard(clips, shard);
    }

    if (args.list) {
        for (const auto& clip : clips)
            printText("{} \u2192 {}\n", clip.input.string(), clip.output.string());
        return 0;
    }

    std::ofstream report;
    if (!args.report.empty()) {
        report.open(args.report, std::ios::out | std::ios::trunc);
        if (!report)
            return usageError(fmt::format("cannot write the report {}", args.report));
    }
    const auto& stop = stopOnSignals();
    // The job and the LUT are read once: every clip of the batch gets the same look,
    // whatever happens to the files meanwhile. A job that does not decode fails
    // each clip with its reason, as its export would.
    std::shared_ptr<const std::string> jobBytes;
    std::shared_ptr<const LutText> lutText;
    try {
        jobBytes = std::make_shared<const std::string>(Exporter::readJobFile(args.job));
    } catch (const Error& error) {
        printError(error);
        return 1;
    }
    try {
        const auto job = Job::decode(*jobBytes);
        lutText = std::make_shared<const LutText>(Exporter::resolveLutText(
            args.lut.empty() ? std::nullopt : std::optional<fs::path>(args.lut), job));
    } catch (const Error&) {
    }
    BatchRun run(args, std::move(clips), args.report.empty() ? nullptr : &report, stop,
                 std::move(jobBytes), std::move(lutText), std::move(othersFolders));
    return run.run();
}

} // namespace

void addBatchCommand(CLI::App& app, int& exitCode) {
    static BatchArguments args;
    auto* command = app.add_subcommand(
        "batch", "Grade many clips with one job; outputs that exist already are skipped");
    command->add_option("--job", args.job, "Job file (JSON)")->required()->check(CLI::ExistingFile);
    command->add_option("--lut", args.lut, ".cube file that replaces the job's LUT")
        ->check(CLI::ExistingFile);
    command
        ->add_option("--output-dir", args.outputDir,
                     "Folder for the outputs, which keep the layout of the input folders")
        ->required();
    command->add_option("--bitrate-mbps", args.bitrateMbps,
                        "Average bitrate in Mbit/s, e.g. 12 or 12,5 (default: the job's)");
    addGradeOptions(*command, args.overrides);
    command->add_option("--preset", args.preset, "x265 speed preset (default medium)")
        ->check(CLI::IsMember(presets));
    addCopyOptions(*command, args.overrides);
    command->add_option("--jobs", args.jobs, "Exports at once (default 1)")
        ->check(CLI::Range(1, 256));
    command->add_option("--report", args.report, "JSON Lines file, one object per clip as it ends");
    command
        ->add_option("--shard", args.shard,
                     "I/N: only the clips whose position in the sorted list is I modulo N")
        ->check(CLI::Validator(
            [](const std::string& text) {
                return parseShard(text) ? std::string() : "expected I/N with 0 <= I < N";
            },
            "I/N"));
    command->add_flag("--list", args.list, "Print the plan (input \u2192 output); write nothing");
    command->add_flag("--force", args.force, "Grade clips whose output exists again");
    command
        ->add_option("inputs", args.inputs,
                     "Clips, or folders whose mp4/mov/m4v files are graded, recursively "
                     "(names starting with a dot are left out)")
        ->required()
        ->check(CLI::ExistingPath);
    command->callback([&exitCode] { exitCode = runBatch(args); });
}

} // namespace vantrel::cli
