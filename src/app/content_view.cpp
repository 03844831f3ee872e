// The window's layout and the one place it is drawn from its state.

#include "app/content_view.hpp"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/desktop.hpp"
#include "app/preview_pane.hpp"
#include "app/widgets.hpp"

namespace vantrel::app {

namespace {

constexpr int contentWidth = 640;
constexpr int inset = 18;

QLabel* plainLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    // Dynamic texts are file names and error texts: never read as markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The file's name, its full path in the tooltip; what it is for in the name a screen
// reader speaks.
// `detail`, when there is one, follows the file's name in brackets.
void showLocation(ElidedLabel* caption, const QString& role,
                  const std::optional<Location>& location, const QString& placeholder,
                  const QString& detail = {}) {
    QString text = location ? toQString(location->filename()) : placeholder;
    if (location && !detail.isEmpty())
        text += " (" + detail + ")";
    caption->setText(text);
    caption->setToolTip(location ? toQString(*location) : QString());
    caption->setAccessibleName(role + ": " + text);
}

} // namespace

QString toQString(const Location& location) {
    return QFile::decodeName(QByteArray::fromStdString(location.native()));
}

Location toLocation(const QString& path) {
    return Location(QFile::encodeName(path).toStdString());
}

ContentView::ContentView(Desktop& desktop, ExportFunction exportFunction, WindowState initial,
                         QWidget* parent)
    : QWidget(parent), desktop_(desktop), exportFunction_(std::move(exportFunction)),
      state_(std::move(initial)) {
    setWindowTitle(QApplication::applicationDisplayName());
    buildLayout();
    applyTextStyles();
    refresh();
}

// Top to bottom: header, drop zone, file rows, bitrate row, actions, status line.
// Each part only creates widgets and wires their signals; refresh() fills them in.
void ContentView::buildLayout() {
    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(inset, inset, inset, inset);
    content->setSpacing(14);
    content->addLayout(buildHeader());
    content->addWidget(buildDropZone());
    auto* rows = new QVBoxLayout;
    rows->setSpacing(10);
    rows->addLayout(buildFileRow(jobButton_, jobCaption_, "jobButton", &ContentView::pickJob));
    auto* lutRow =
        buildFileRow(lutButton_, lutCaption_, "lutButton", &ContentView::pickLutOverride);
    lutClearButton_ = new QPushButton(this);
    lutClearButton_->setObjectName("lutClearButton");
    lutClearButton_->setAutoDefault(true);
    lutRow->addWidget(lutClearButton_);
    connect(lutClearButton_, &QPushButton::clicked, this, &ContentView::clearLutOverride);
    rows->addLayout(lutRow);
    lutWarning_ = plainLabel(this);
    lutWarning_->setObjectName("lutWarning");
    lutWarning_->setWordWrap(true);
    rows->addWidget(lutWarning_);
    rows->addLayout(
        buildFileRow(inputButton_, inputCaption_, "inputButton", &ContentView::pickInput));
    rows->addLayout(
        buildFileRow(outputButton_, outputCaption_, "outputButton", &ContentView::pickOutput));
    rows->addLayout(buildBitrateRow());
    rows->addLayout(buildCopyRow());
    content->addLayout(rows);
    content->addLayout(buildActions());
    content->addWidget(buildStatusLine());
    preview_ = new PreviewPane(contentWidth - 2 * inset, this);
    content->addWidget(preview_);
    connect(preview_, &PreviewPane::strengthChanged, this, [this](double strength) {
        state_.strength = strength;
        refresh();
    });
}

QLayout* ContentView::buildHeader() {
    auto* header = new QVBoxLayout;
    header->setSpacing(2);
    title_ = plainLabel(this);
    title_->setObjectName("title");
    version_ = plainLabel(this);
    version_->setObjectName("version");
    header->addWidget(title_);
    header->addWidget(version_);
    return header;
}

QWidget* ContentView::buildDropZone() {
    dropZone_ = new DropZone(this);
    dropZone_->setObjectName("dropZone");
    auto* zone = new QVBoxLayout(dropZone_);
    zone->setContentsMargins(12, 12, 12, 12);
    zone->setSpacing(6);
    dropTitle_ = plainLabel(dropZone_);
    dropTitle_->setObjectName("dropTitle");
    dropHint_ = plainLabel(dropZone_);
    dropHint_->setObjectName("dropHint");
    zone->addWidget(dropTitle_);
    zone->addWidget(dropHint_);
    dropZone_->onHoverChanged = [this](bool hovering) { setDropTarget(hovering); };
    dropZone_->onDrop = [this](const QList<QUrl>& urls) { return handleDrop(urls); };
    return dropZone_;
}

// A button that opens a panel, and the chosen file's name beside it.
QHBoxLayout* ContentView::buildFileRow(QPushButton*& button, ElidedLabel*& caption,
                                       const char* name, void (ContentView::*pick)()) {
    auto* row = new QHBoxLayout;
    button = new QPushButton(this);
    button->setObjectName(name);
    // Return, as well as Space, presses the focused button.
    button->setAutoDefault(true);
    caption = new ElidedLabel(this);
    caption->setObjectName(QString(name) + "Caption");
    row->addWidget(button);
    row->addWidget(caption, 1);
    connect(button, &QPushButton::clicked, this, pick);
    return row;
}

QLayout* ContentView::buildBitrateRow() {
    auto* row = new QHBoxLayout;
    // Sized from its text, so no font size clips it.
    bitrateLabel_ = plainLabel(this);
    bitrateLabel_->setObjectName("bitrateLabel");
    bitrateLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    bitrateField_ = new QLineEdit(this);
    bitrateField_->setObjectName("bitrateField");
    bitrateField_->setFixedWidth(120);
    bitrateLabel_->setBuddy(bitrateField_);
    bitrateHint_ = plainLabel(this);
    bitrateHint_->setObjectName("bitrateHint");
    row->addWidget(bitrateLabel_);
    row->addWidget(bitrateField_);
    row->addWidget(bitrateHint_, 1);
    connect(bitrateField_, &QLineEdit::textEdited, this, &ContentView::setBitrateText);
    return row;
}

QLayout* ContentView::buildCopyRow() {
    auto* row = new QHBoxLayout;
    copyAudioBox_ = new QCheckBox(this);
    copyAudioBox_->setObjectName("copyAudioBox");
    copyMetadataBox_ = new QCheckBox(this);
    copyMetadataBox_->setObjectName("copyMetadataBox");
    row->addWidget(copyAudioBox_);
    row->addWidget(copyMetadataBox_);
    row->addStretch(1);
    connect(copyAudioBox_, &QCheckBox::clicked, this, [this](bool checked) {
        state_.copyAudio = checked;
        refresh();
    });
    connect(copyMetadataBox_, &QCheckBox::clicked, this, [this](bool checked) {
        state_.copyMetadata = checked;
        refresh();
    });
    return row;
}

QLayout* ContentView::buildActions() {
    auto* actions = new QHBoxLayout;
    actions->setSpacing(10);
    exportButton_ = new QPushButton(this);
    exportButton_->setObjectName("exportButton");
    exportButton_->setAutoDefault(true);
    spinner_ = new BusySpinner(this);
    spinner_->setObjectName("spinner");
    progress_ = new QProgressBar(this);
    progress_->setObjectName("progress");
    progress_->setTextVisible(true);
    revealButton_ = new QPushButton(this);
    revealButton_->setObjectName("revealButton");
    revealButton_->setAutoDefault(true);
    actions->addWidget(exportButton_);
    actions->addWidget(spinner_);
    actions->addWidget(progress_, 1);
    actions->addWidget(revealButton_);
    actions->addStretch(1);
    connect(exportButton_, &QPushButton::clicked, this, &ContentView::startExport);
    connect(revealButton_, &QPushButton::clicked, this, &ContentView::revealOutput);
    return actions;
}

QWidget* ContentView::buildStatusLine() {
    status_ = plainLabel(this);
    status_->setObjectName("status");
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return status_;
}

void ContentView::applyTextStyles() {
    applyTextStyle(title_, TextStyle::title2, true);
    applyTextStyle(version_, TextStyle::caption);
    applyTextStyle(dropTitle_, TextStyle::callout);
    applyTextStyle(dropHint_, TextStyle::caption);
    applyTextStyle(status_, TextStyle::callout);
    for (QWidget* secondary :
         std::initializer_list<QWidget*>{version_, dropTitle_, dropHint_, jobCaption_, lutCaption_,
                                         inputCaption_, outputCaption_, bitrateHint_, status_})
        applySecondaryColour(secondary);
}

void ContentView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationFontChange ||
        event->type() == QEvent::ApplicationPaletteChange) {
        applyTextStyles();
        refresh();
    }
}

QString ContentView::versionLine(const QString& shortVersion, const QString& build) {
    auto part = [](const QString& value) { return value.isEmpty() ? QStringLiteral("?") : value; };
    return "v" + part(shortVersion) + " (" + part(build) + ")";
}

// The preview follows the job, the LUT and the video; it reads them again only
// when one of them changes (or the job is chosen anew). A new strength regrades.
void ContentView::refreshPreview() {
    const auto& s = state_;
    std::optional<PreviewedFiles> files;
    if (s.jobURL && s.inputURL)
        files = PreviewedFiles{*s.jobURL, s.lutOverrideURL, *s.inputURL};
    if (files == previewed_) {
        preview_->setStrength(s.strength);
        return;
    }
    previewed_ = files;
    std::optional<ExportRequest> sources;
    if (files)
        sources = ExportRequest{files->job, files->lut, files->input, {}, std::nullopt};
    preview_->setSources(sources, s.strength);
}

void ContentView::refresh() {
    const auto& s = state_;
    refreshPreview();
    title_->setText(tr("Vantrel"));
    version_->setText(versionLine(QApplication::applicationVersion(),
                                  qApp->property("applicationBuild").toString()));

    dropTitle_->setText(tr("Drag & drop your Job JSON and video here"));
    dropHint_->setText(s.isDropTarget ? tr("Drop now…") : tr("Or use the buttons below"));
    dropZone_->setHighlighted(s.isDropTarget);

    jobButton_->setText(tr("Choose Job JSON…"));
    lutButton_->setText(tr("Choose LUT Override…"));
    inputButton_->setText(tr("Choose Input Video…"));
    outputButton_->setText(tr("Choose Output…"));
    showLocation(jobCaption_, tr("Job"), s.jobURL, tr("No job selected"), s.jobGrade);
    showLocation(lutCaption_, tr("LUT override"), s.lutOverrideURL,
                 tr("Optional (uses LUT from job)"));
    showLocation(inputCaption_, tr("Input video"), s.inputURL, tr("No input selected"));
    showLocation(outputCaption_, tr("Output"), s.outputURL, tr("Default next to input"));
    lutClearButton_->setText(tr("Clear"));
    lutClearButton_->setAccessibleName(tr("Clear LUT override"));
    lutClearButton_->setVisible(s.lutOverrideURL.has_value());
    lutWarning_->setText(s.lutWarnings.join('\n'));
    lutWarning_->setVisible(!s.lutWarnings.isEmpty());

    bitrateLabel_->setText(tr("Bitrate (Mbps)"));
    bitrateField_->setAccessibleName(bitrateLabel_->text());
    bitrateField_->setPlaceholderText(tr("Auto"));
    // Only on a real difference, so typing keeps its cursor.
    if (bitrateField_->text() != s.bitrateMbps)
        bitrateField_->setText(s.bitrateMbps);
    // Text that reads as no number would silently mean Auto: it is marked instead.
    const bool bitrateReadable = s.bitrateMbps.trimmed().isEmpty() ||
                                 Exporter::parseBitrateOverride(s.bitrateMbps.toStdString());
    bitrateField_->setStyleSheet(bitrateReadable ? QString()
                                                 : QStringLiteral("QLineEdit { border: 2px "
                                                                  "solid #c62828; }"));
    bitrateHint_->setText(bitrateReadable ? tr("Leave empty for auto")
                                          : tr("Not a number of Mbps: type one, or leave empty"));
    bitrateField_->setAccessibleDescription(bitrateHint_->text());
    copyAudioBox_->setText(tr("Keep sound"));
    copyAudioBox_->setChecked(s.copyAudio);
    copyMetadataBox_->setText(tr("Keep date, place and camera"));
    copyMetadataBox_->setChecked(s.copyMetadata);

    exportButton_->setText(s.isExporting ? tr("Exporting…") : tr("Export 10-bit HEVC"));
    exportButton_->setEnabled(!s.isExporting && s.inputURL && s.jobURL && bitrateReadable);
    spinner_->setVisible(s.isExporting && s.progressPercent < 0);
    progress_->setRange(0, s.progressPercent < 0 ? 0 : 100);
    progress_->setValue(std::max(s.progressPercent, 0));
    progress_->setFormat(s.progressText);
    progress_->setVisible(s.isExporting && !s.progressText.isEmpty());

    // Nothing watches the file system: whether the output exists is looked at here.
    std::error_code error;
    revealTarget_ =
        s.outputURL && std::filesystem::exists(*s.outputURL, error) ? s.outputURL : std::nullopt;
    revealButton_->setText(tr("Show in Folder"));
    revealButton_->setVisible(revealTarget_.has_value());

    // A long unbroken path would run off the edge; it loses its middle instead.
    const QString statusShown =
        elideLongWords(s.statusText, status_->fontMetrics(), contentWidth - 2 * inset);
    status_->setText(statusShown);
    status_->setToolTip(statusShown == s.statusText ? QString() : s.statusText);

    refreshAlert();

    // The content is exactly 640 wide and as tall as it needs; the status line wraps.
    setFixedWidth(contentWidth);
    setFixedHeight(layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(contentWidth)
                                                 : layout()->totalSizeHint().height());
}

// The alert is open exactly while the state says there is an error to show.
void ContentView::refreshAlert() {
    if (state_.showError && !alert_) {
        // The reason first, as a sentence; the engine's full text with its codes below.
        QString reason =
            state_.errorReason.isEmpty() ? tr("The export failed") : state_.errorReason;
        reason[0] = reason[0].toUpper();
        alert_ = new QMessageBox(QMessageBox::Warning, tr("Export Failed"), reason + '.',
                                 QMessageBox::NoButton, this);
        alert_->setObjectName("alert");
        alert_->setInformativeText(state_.errorText);
        // Names and error texts are shown as they are, never as markup.
        alert_->setTextFormat(Qt::PlainText);
        if (auto* details = alert_->findChild<QLabel*>("qt_msgbox_informativelabel"))
            details->setTextFormat(Qt::PlainText);
        // Wide enough that a path and its cause read as lines, not as a column.
        if (auto* text = alert_->findChild<QLabel*>("qt_msgbox_label"))
            text->setMinimumWidth(text->fontMetrics().averageCharWidth() * 60);
        alert_->setEscapeButton(alert_->addButton(tr("OK"), QMessageBox::RejectRole));
        alert_->setWindowModality(Qt::WindowModal);
        alert_->setAttribute(Qt::WA_DeleteOnClose);
        connect(alert_, &QMessageBox::finished, this, &ContentView::dismissAlert);
        alert_->open();
    } else if (!state_.showError && alert_) {
        alert_->close();
    }
}

void ContentView::setBitrateText(const QString& text) {
    state_.bitrateMbps = text;
    refresh();
}

void ContentView::setDropTarget(bool hovering) {
    state_.isDropTarget = hovering;
    refresh();
}

void ContentView::dismissAlert() {
    state_.showError = false;
    refresh();
}

} // namespace vantrel::app
