// Starting an export off the main thread and writing its outcome back, stopping it
// when the window closes, and revealing the result.

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMetaObject>
#include <QStringList>

#include "app/content_view.hpp"
#include "app/desktop.hpp"

namespace vantrel::app {

struct ContentView::Outcome {
    enum class Kind { done, failed, cancelled };
    Kind kind;
    QString text;   // the output path, or the error's full description
    QString reason; // a failure's reason: what a person reads first
    QStringList warnings;
};

ExportResult runExporter(const ExportRequest& request, const ExportOptions& options) {
    return Exporter::exportVideo(request, options);
}

namespace {

// Whoever waits on the token (rather than polling it) wakes at once.
void requestStop(CancellationToken& token) {
    token = true;
    token.notify_all();
}

// Runs `work` on the main thread when the window is still there.
template <typename Work> void toWindow(QPointer<ContentView> window, Work work) {
    QMetaObject::invokeMethod(
        qApp,
        [window, work = std::move(work)] {
            if (window)
                work(*window);
        },
        Qt::QueuedConnection);
}

QString timeLeft(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    return QString("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QChar('0'));
}

} // namespace

ContentView::~ContentView() {
    // Last line of defence when the window goes without a close (the application is
    // torn down): stop the export and wait, so it never outlives what it reports to.
    if (running_) {
        requestStop(running_->cancellation);
        if (running_->thread.joinable())
            running_->thread.join();
    }
}

QString ContentView::defaultOutputName() const {
    return QString::fromStdString(Exporter::defaultOutputName(state_.inputURL));
}

std::optional<Location> ContentView::ensureOutputPath() {
    if (state_.outputURL)
        return state_.outputURL;
    if (!state_.inputURL)
        return std::nullopt;
    auto chosen = desktop_.runPanel(
        this, outputPanel(state_.inputURL->parent_path() / defaultOutputName().toStdString()));
    if (!chosen)
        return std::nullopt;
    state_.outputURL = toLocation(*chosen);
    refresh();
    return state_.outputURL;
}

void ContentView::startExport() {
    if (!state_.jobURL || !state_.inputURL || running_)
        return;
    const auto output = ensureOutputPath();
    if (!output)
        return;
    state_.isExporting = true;
    state_.statusText = QStringLiteral("Export started…");
    state_.progressText.clear();
    refresh();

    ExportRequest request{*state_.jobURL, std::nullopt, *state_.inputURL, *output,
                          Exporter::parseBitrateOverride(state_.bitrateMbps.toStdString())};
    request.copyAudio = state_.copyAudio;
    request.copyMetadata = state_.copyMetadata;
    if (state_.strength != state_.jobStrength)
        request.strengthOverride = state_.strength;
    running_ = std::make_unique<RunningExport>();
    // The task takes the LUT override as it is when the task begins, one turn of the
    // event loop later.
    QMetaObject::invokeMethod(
        this, [this, request]() mutable { beginExportTask(std::move(request)); },
        Qt::QueuedConnection);
}

void ContentView::beginExportTask(ExportRequest request) {
    request.lutOverridePath = state_.lutOverrideURL;
    QPointer<ContentView> window(this);
    ExportOptions options;
    options.cancellation = &running_->cancellation;
    // Called after every frame on the export's queue: at most four updates a second
    // reach the window.
    options.progress = [window, last = std::chrono::steady_clock::time_point{}](
                           std::int64_t done, std::int64_t expected) mutable {
        const auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::milliseconds(250))
            return;
        last = now;
        toWindow(window,
                 [done, expected](ContentView& view) { view.showProgress(done, expected); });
    };
    exportStarted_.start();
    running_->thread = std::thread([window, request = std::move(request),
                                    options = std::move(options), run = exportFunction_] {
        Outcome outcome{Outcome::Kind::failed, {}, {}, {}};
        try {
            const auto result = run(request, options);
            outcome = {Outcome::Kind::done, toQString(result.outputPath), {}, {}};
            for (const auto& warning : result.warnings)
                outcome.warnings << QString::fromStdString(warning);
        } catch (const ExportCancelled&) {
            outcome.kind = Outcome::Kind::cancelled;
        } catch (const Error& error) {
            outcome.text = QString::fromStdString(error.description());
            outcome.reason = QString::fromStdString(error.reason());
        } catch (const std::exception& error) {
            outcome.text = outcome.reason = QString::fromLocal8Bit(error.what());
        } catch (...) {
            outcome.text = outcome.reason = QStringLiteral("the export failed");
        }
        toWindow(window, [outcome](ContentView& view) { view.finishExport(outcome); });
    });
}

int progressPercent(std::int64_t framesDone, std::int64_t framesExpected) {
    if (framesExpected <= 0)
        return -1;
    return static_cast<int>(100 * std::clamp<std::int64_t>(framesDone, 0, framesExpected) /
                            framesExpected);
}

QString progressText(std::int64_t framesDone, std::int64_t framesExpected, double elapsedSeconds) {
    if (framesExpected <= 0)
        return QCoreApplication::translate("ContentView", "%n frame(s)", nullptr,
                                           static_cast<int>(framesDone));
    // An index may list fewer frames than the file holds: past it the run reads as
    // done, never as more than done or as time owed back.
    const auto done = std::min(framesDone, framesExpected);
    QString text = QString("%1%").arg(progressPercent(done, framesExpected));
    if (done > 0 && elapsedSeconds > 0) {
        const double left =
            elapsedSeconds * static_cast<double>(framesExpected - done) / static_cast<double>(done);
        text += QCoreApplication::translate("ContentView", ", %1 left").arg(timeLeft(left));
    }
    return text;
}

void ContentView::showProgress(std::int64_t framesDone, std::int64_t framesExpected) {
    if (!state_.isExporting)
        return;
    state_.progressText = progressText(framesDone, framesExpected,
                                       static_cast<double>(exportStarted_.elapsed()) / 1000.0);
    state_.progressPercent = progressPercent(framesDone, framesExpected);
    refresh();
}

void ContentView::finishExport(const Outcome& outcome) {
    if (running_ && running_->thread.joinable())
        running_->thread.join();
    running_.reset();
    const bool closing = std::exchange(closeWhenStopped_, false);
    switch (outcome.kind) {
    case Outcome::Kind::done:
        // What the run could not apply as meant (the LUT's leftovers, an HDR source)
        // stays in view after the run, under the result.
        state_.statusText = "Done: " + outcome.text;
        for (const auto& warning : outcome.warnings)
            state_.statusText += "\n" + tr("Warning: ") + warning;
        break;
    case Outcome::Kind::failed:
        if (!closing) {
            state_.errorReason = outcome.reason;
            state_.errorText = outcome.text;
            state_.showError = true;
        }
        state_.statusText = "Failed: " + outcome.reason;
        break;
    case Outcome::Kind::cancelled:
        state_.statusText = tr("Stopped.");
        break;
    }
    state_.isExporting = false;
    state_.progressText.clear();
    state_.progressPercent = -1;
    refresh();
    if (closing) {
        close();
    } else if (outcome.kind != Outcome::Kind::cancelled && !isActiveWindow()) {
        // Someone who went to another window learns the end without coming back.
        // The file the run wrote, even when another output was chosen meanwhile.
        const bool done = outcome.kind == Outcome::Kind::done;
        const Location file =
            done ? toLocation(outcome.text) : state_.outputURL.value_or(Location());
        desktop_.notify(done ? tr("Done") : tr("Failed"), toQString(file.filename()));
    }
}

void ContentView::stopAndClose() {
    if (!running_) {
        close();
        return;
    }
    closeWhenStopped_ = true;
    requestStop(running_->cancellation);
    state_.statusText = tr("Stopping…");
    refresh();
}

void ContentView::closeEvent(QCloseEvent* event) {
    if (!running_) {
        event->accept();
        return;
    }
    // Asked once; the window closes by itself when the export has unwound.
    if (!closeWhenStopped_) {
        if (!desktop_.confirm(this, tr("An export is running. Stop it and close?"),
                              tr("Stop Export"), tr("Keep Exporting"))) {
            event->ignore();
            return;
        }
        closeWhenStopped_ = true;
        requestStop(running_->cancellation);
        state_.statusText = tr("Stopping…");
        refresh();
    }
    event->ignore();
}

void ContentView::revealOutput() {
    if (!revealTarget_)
        return;
    QPointer<ContentView> window(this);
    desktop_.reveal(toQString(*revealTarget_), [window] {
        if (!window)
            return;
        window->state_.statusText = tr("No file manager or folder window could be opened.");
        window->refresh();
    });
}

} // namespace vantrel::app
