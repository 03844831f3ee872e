// Choosing the job, LUT override, input and output by panel or by drop.

#include <algorithm>
#include <cctype>

#include <QMetaObject>

#include "app/content_view.hpp"
#include "app/desktop.hpp"

namespace vantrel::app {

namespace {

PanelRequest openPanel(const QString& label, QStringList fileTypes) {
    return {PanelRequest::Kind::open, label, std::move(fileTypes), {}, {}};
}

std::string lowerExtension(const Location& file) {
    std::string extension = file.extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool isVideoExtension(const std::string& extension) {
    return extension == "mp4" || extension == "mov" || extension == "m4v";
}

} // namespace

void ContentView::pickJob() {
    if (auto chosen = desktop_.runPanel(this, openPanel(tr("JSON"), {"json"}))) {
        chooseJob(toLocation(*chosen));
        refresh();
    }
}

void ContentView::pickLutOverride() {
    if (auto chosen = desktop_.runPanel(this, openPanel(tr("Cube LUT"), {"cube"})))
        setLutOverride(toLocation(*chosen));
}

void ContentView::clearLutOverride() {
    setLutOverride(std::nullopt);
}

// Read when chosen, so that a file the export would pass over is named before it runs.
void ContentView::setLutOverride(const std::optional<Location>& file) {
    state_.lutOverrideURL = file;
    state_.lutWarnings = lutWarnings(file);
    refresh();
}

QStringList lutWarnings(const std::optional<Location>& lutOverride) {
    if (!lutOverride)
        return {};
    QStringList warnings;
    const Job anyJob(1, std::nullopt, Job::Grade(""));
    auto resolved = Exporter::resolveLutText(lutOverride, anyJob);
    try {
        if (resolved.warnings.empty())
            resolved.warnings = Exporter::parseCube(resolved.text).warnings;
    } catch (const Error& error) {
        resolved.warnings = {error.description()};
    }
    for (const auto& warning : resolved.warnings)
        warnings << QString::fromStdString(warning);
    return warnings;
}

void ContentView::pickInput() {
    if (auto chosen = desktop_.runPanel(this, openPanel(tr("Videos"), {"mp4", "mov", "m4v"}))) {
        state_.inputURL = toLocation(*chosen);
        proposeOutputFor(*state_.inputURL);
        refresh();
    }
}

// Opened where the proposal lies, on its name and type: pressing Save on what is
// proposed keeps the output where the window says it is.
PanelRequest ContentView::outputPanel(const Location& proposed) const {
    QStringList types{"mov", "mp4"};
    if (lowerExtension(proposed) == "mp4")
        types.swapItemsAt(0, 1);
    return {PanelRequest::Kind::save,
            {},
            types,
            toQString(proposed.filename()),
            toQString(proposed.parent_path())};
}

void ContentView::pickOutput() {
    const Location proposed =
        state_.outputURL  ? *state_.outputURL
        : state_.inputURL ? state_.inputURL->parent_path() / defaultOutputName().toStdString()
                          : Location(defaultOutputName().toStdString());
    if (auto chosen = desktop_.runPanel(this, outputPanel(proposed))) {
        state_.outputURL = toLocation(*chosen);
        refresh();
    }
}

// Next to the input, by the output naming rule; only while no output is chosen.
void ContentView::proposeOutputFor(const Location& input) {
    if (state_.outputURL)
        return;
    state_.outputURL = input.parent_path() / Exporter::defaultOutputName(input);
}

// The grade line and the sound and tags boxes start as the job says; a job that
// cannot be read leaves them empty and off (the export reports why it cannot be read).
void ContentView::chooseJob(const Location& file) {
    state_.jobURL = file;
    state_.jobGrade.clear();
    state_.jobStrength.reset();
    state_.strength.reset();
    previewed_.reset(); // the job is read again, even when it is the same file
    state_.copyAudio = false;
    state_.copyMetadata = false;
    try {
        const auto job = Job::decode(Exporter::readJobFile(file));
        const GradeOptions options = job.grade().options();
        const std::string_view name = nameOf(options.interpolation);
        state_.jobGrade = tr("%1, strength %2")
                              .arg(QString::fromUtf8(name.data(), qsizetype(name.size())))
                              .arg(options.strength);
        state_.jobStrength = state_.strength = options.strength;
        if (const auto& output = job.output()) {
            state_.copyAudio = output->copyAudio();
            state_.copyMetadata = output->copyMetadata();
        }
    } catch (const Error&) {
    }
}

bool ContentView::handleDrop(const QList<QUrl>& urls) {
    bool taken = false;
    for (const auto& url : urls) {
        if (!url.isLocalFile())
            continue;
        taken = true;
        const Location file = toLocation(url.toLocalFile());
        QMetaObject::invokeMethod(
            this, [this, file] { applyDroppedFile(file); }, Qt::QueuedConnection);
    }
    return taken;
}

void ContentView::applyDroppedFile(const Location& file) {
    const std::string extension = lowerExtension(file);
    if (extension == "json") {
        chooseJob(file);
    } else if (extension == "cube") {
        setLutOverride(file);
        return;
    } else if (isVideoExtension(extension)) {
        state_.inputURL = file;
        proposeOutputFor(file);
    } else {
        return;
    }
    refresh();
}

} // namespace vantrel::app
