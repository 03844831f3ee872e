#pragma once
// The grade before the export: one frame of the chosen video graded exactly as
// the export grades it, the source left of a split line the user drags and the
// grade right of it. A slider under it picks the moment, another how strongly
// the grade applies (regrading the frame shown, without reading the files
// again); Space held shows the source alone. A video that cannot be previewed
// shows why in the pane itself.
//
// Threading: main thread; grading happens on the pane's PreviewWorker.

#include <cstdint>
#include <memory>
#include <optional>

#include <QImage>
#include <QWidget>

#include "app/preview_worker.hpp"

class QLabel;
class QSlider;

namespace vantrel::app {

class PreviewCanvas;

class PreviewPane : public QWidget {
    Q_OBJECT

public:
    // `width`: the picture's width on screen; its height follows the video's shape.
    explicit PreviewPane(int width, QWidget* parent = nullptr);
    ~PreviewPane() override;

    // What to preview: a job and a video (and the LUT that replaces the job's).
    // Without both the pane hides; with them it shows and grades again, at
    // `strength` (as setStrength takes it).
    void setSources(const std::optional<ExportRequest>& sources,
                    std::optional<double> strength = std::nullopt);
    // The grade's strength (0 to 1; the slider shows it to the percent), applied
    // to the graded side as ExportRequest::strengthOverride; the frame shown is
    // graded again when it changed. Nothing: the job's own, which the pane does
    // not know (the slider is off).
    void setStrength(std::optional<double> strength);
    std::optional<double> strength() const { return strength_; }
    // Moves the split line, as a fraction of the width from the left.
    void setSplit(double fraction);
    // Asks for the frame at `seconds`, as the slider does.
    void showMoment(double seconds);

    // What is on screen: the serial of the result shown (0: none yet), its
    // moment, the reason when there is no picture, the split.
    const PreviewResult& shownResult() const { return shown_; }
    std::uint64_t shownSerial() const { return shownSerial_; }
    double shownSeconds() const { return shown_.seconds; }
    QString message() const { return shown_.error; }
    double split() const { return split_; }
    bool showsSourceOnly() const { return sourceOnly_; }
    const PreviewWorker& worker() const { return *worker_; }

signals:
    // A result is on screen.
    void updated();
    // The person moved the strength slider (0 to 1).
    void strengthChanged(double strength);

public slots:
    // Takes a result unless it is older than the one shown.
    void present(const vantrel::app::PreviewResult& result);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    friend class PreviewCanvas;
    void requestFrame(bool reopen);
    void updateTimeLabel(double seconds);
    void showStrength();

    std::optional<ExportRequest> sources_;
    PreviewResult shown_;
    std::uint64_t shownSerial_ = 0;
    double split_ = 0.5;
    double moment_ = 0;
    std::optional<double> strength_;
    bool sourceOnly_ = false;
    PreviewCanvas* canvas_ = nullptr;
    QSlider* slider_ = nullptr;
    QLabel* time_ = nullptr;
    QSlider* strengthSlider_ = nullptr;
    QLabel* strengthLabel_ = nullptr;
    std::unique_ptr<PreviewWorker> worker_; // last: joined before the widgets go
};

} // namespace vantrel::app
