#pragma once
// The application's one window: its state, its layout, choosing files by panel and by
// drop, and starting an export and reporting its outcome.
//
// Threading: everything here runs on the main thread. An export runs on a thread of
// its own that never touches the window; its progress and outcome come back as
// queued calls guarded by QPointer. The window joins that thread before it goes, so
// an export never outlives the window that started it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include "exporter/exporter.hpp"

class QCheckBox;
class QLabel;
class QHBoxLayout;
class QLayout;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace vantrel::app {

class BusySpinner;
class Desktop;
class DropZone;
class ElidedLabel;
class PreviewPane;
struct PanelRequest;

using Location = std::filesystem::path;

// The window's state. The window shows exactly this; only ContentView's actions
// change it, and every change redraws the window.
struct WindowState {
    std::optional<Location> jobURL;
    // How the job grades ("tetrahedral, strength 0.5"), read when it is chosen;
    // empty when it cannot be read (the export then says why).
    QString jobGrade;
    // The chosen job's grade.strength; nothing when it cannot be read.
    std::optional<double> jobStrength;
    // The strength the preview shows and the export applies: the job's until the
    // slider moves (nothing while the job's is unknown). Never written to the job.
    std::optional<double> strength;
    std::optional<Location> lutOverrideURL;
    std::optional<Location> inputURL;
    std::optional<Location> outputURL;
    // Why the LUT override would not be applied as it reads (the engine's warnings).
    QStringList lutWarnings;
    QString bitrateMbps;
    // "Keep sound" and "Keep date, place and camera": as the chosen job says
    // until changed.
    bool copyAudio = false;
    bool copyMetadata = false;
    QString statusText = QStringLiteral("Ready");
    bool isExporting = false;
    bool showError = false;
    QString errorReason; // the failure's reason, read first
    QString errorText;   // the engine's full description
    bool isDropTarget = false;
    // Percent done and time left of the running export; empty when not known.
    QString progressText;
    int progressPercent = -1; // -1 while the total is not known
};

// The engine call; runs on the export's own thread. Tests put another in its place.
using ExportFunction = std::function<ExportResult(const ExportRequest&, const ExportOptions&)>;
ExportResult runExporter(const ExportRequest& request, const ExportOptions& options);

class ContentView : public QWidget {
    Q_OBJECT
public:
    // `desktop` answers panels and questions and must outlive the window. A new
    // window starts from the default state; tests may open one on another.
    explicit ContentView(Desktop& desktop, ExportFunction exportFunction = runExporter,
                         WindowState initial = {}, QWidget* parent = nullptr);
    ~ContentView() override;

    const WindowState& state() const { return state_; }

    // File selection.
    void pickJob();
    void pickLutOverride();
    void clearLutOverride();
    void pickInput();
    void pickOutput();
    // Takes the local files among `urls`; each is applied by a queued call. True when
    // there was at least one.
    bool handleDrop(const QList<QUrl>& urls);
    void applyDroppedFile(const Location& file);
    void chooseJob(const Location& file);

    // Export launch and status.
    QString defaultOutputName() const;
    std::optional<Location> ensureOutputPath();
    void startExport();
    void revealOutput();
    // Stops a running export without asking and closes once it has unwound (its
    // partial file removed); closes at once when nothing runs. For a signal to end.
    void stopAndClose();

    // The version line, "v<short version> (<build>)", "?" for a missing part.
    static QString versionLine(const QString& shortVersion, const QString& build);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The export in flight: its stop switch and the thread it runs on.
    struct RunningExport {
        CancellationToken cancellation{false};
        std::thread thread;
    };
    struct Outcome;

    void buildLayout();
    QLayout* buildHeader();
    QWidget* buildDropZone();
    QHBoxLayout* buildFileRow(QPushButton*& button, ElidedLabel*& caption, const char* name,
                              void (ContentView::*pick)());
    QLayout* buildBitrateRow();
    QLayout* buildCopyRow();
    QLayout* buildActions();
    QWidget* buildStatusLine();
    void applyTextStyles();
    // Sets every widget from state_; the one place the window is drawn from.
    void refresh();
    void refreshAlert();
    void refreshPreview();
    void setBitrateText(const QString& text);
    void setDropTarget(bool hovering);
    void dismissAlert();
    void proposeOutputFor(const Location& input);
    void setLutOverride(const std::optional<Location>& file);
    PanelRequest outputPanel(const Location& proposed) const;
    void beginExportTask(ExportRequest request);
    void showProgress(std::int64_t framesDone, std::int64_t framesExpected);
    void finishExport(const Outcome& outcome);

    Desktop& desktop_;
    ExportFunction exportFunction_;
    WindowState state_;
    std::unique_ptr<RunningExport> running_;
    bool closeWhenStopped_ = false;
    QElapsedTimer exportStarted_;
    std::optional<Location> revealTarget_;
    // The files the preview shows.
    struct PreviewedFiles {
        Location job;
        std::optional<Location> lut;
        Location input;
        bool operator==(const PreviewedFiles&) const = default;
    };
    std::optional<PreviewedFiles> previewed_;
    PreviewPane* preview_ = nullptr;

    QLabel* title_ = nullptr;
    QLabel* version_ = nullptr;
    DropZone* dropZone_ = nullptr;
    QLabel* dropTitle_ = nullptr;
    QLabel* dropHint_ = nullptr;
    QPushButton* jobButton_ = nullptr;
    QPushButton* lutButton_ = nullptr;
    QPushButton* inputButton_ = nullptr;
    QPushButton* outputButton_ = nullptr;
    ElidedLabel* jobCaption_ = nullptr;
    ElidedLabel* lutCaption_ = nullptr;
    ElidedLabel* inputCaption_ = nullptr;
    ElidedLabel* outputCaption_ = nullptr;
    QPushButton* lutClearButton_ = nullptr;
    QLabel* lutWarning_ = nullptr;
    QLabel* bitrateLabel_ = nullptr;
    QLineEdit* bitrateField_ = nullptr;
    QLabel* bitrateHint_ = nullptr;
    QCheckBox* copyAudioBox_ = nullptr;
    QCheckBox* copyMetadataBox_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    BusySpinner* spinner_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* revealButton_ = nullptr;
    QLabel* status_ = nullptr;
    QPointer<QMessageBox> alert_;
};

// The progress bar's text: "40%, 1:05 left" (the time left from the rate so far), or
// "12 frames" when the total is not known; and its percent, -1 for an unknown total.
QString progressText(std::int64_t framesDone, std::int64_t framesExpected, double elapsedSeconds);
int progressPercent(std::int64_t framesDone, std::int64_t framesExpected);

// What the engine would warn about a LUT override: a file it cannot use (the job's
// LUT is used instead) or parts of it it does not apply. Reads the file.
QStringList lutWarnings(const std::optional<Location>& lutOverride);

// Path and display text of a location, byte-exact for names that are not UTF-8.
QString toQString(const Location& location);
Location toLocation(const QString& path);

} // namespace vantrel::app
