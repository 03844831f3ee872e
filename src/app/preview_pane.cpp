#include "app/preview_pane.hpp"

#include <algorithm>
#include <cmath>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSlider>
#include <QVBoxLayout>

namespace vantrel::app {

namespace {

QString clockText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const auto hundredths = static_cast<long long>(std::llround(seconds * 100));
    return QStringLiteral("%1:%2.%3")
        .arg(hundredths / 6000)
        .arg(hundredths / 100 % 60, 2, 10, QChar('0'))
        .arg(hundredths % 100, 2, 10, QChar('0'));
}

} // namespace

// The picture: the source left of the split, the grade right of it, and the line
// between them, which a press or a drag moves.
class PreviewCanvas : public QWidget {
public:
    PreviewCanvas(PreviewPane& pane, int width) : QWidget(&pane), pane_(pane) {
        setObjectName("previewCanvas");
        setCursor(Qt::SplitHCursor);
        setFocusPolicy(Qt::ClickFocus);
        setFixedSize(width, width * 9 / 16);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        const PreviewResult& shown = pane_.shown_;
        if (shown.graded.isNull()) {
            painter.setPen(Qt::white);
            painter.drawText(rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
                             shown.error.isEmpty() ? QStringLiteral("Grading a frame…")
                                                   : shown.error);
            return;
        }
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const int splitAt = pane_.sourceOnly_ ? width() : int(std::lround(pane_.split_ * width()));
        const double scale = double(shown.graded.width()) / width();
        painter.drawImage(QRectF(0, 0, splitAt, height()), shown.source,
                          QRectF(0, 0, splitAt * scale, shown.source.height()));
        painter.drawImage(
            QRectF(splitAt, 0, width() - splitAt, height()), shown.graded,
            QRectF(splitAt * scale, 0, (width() - splitAt) * scale, shown.graded.height()));
        if (!pane_.sourceOnly_) {
            painter.setPen(QPen(Qt::white, 2));
            painter.drawLine(splitAt, 0, splitAt, height());
        }
    }
    void mousePressEvent(QMouseEvent* event) override { follow(event); }
    void mouseMoveEvent(QMouseEvent* event) override { follow(event); }

private:
    void follow(QMouseEvent* event) {
        if (event->buttons() & Qt::LeftButton)
            pane_.setSplit(event->position().x() / width());
    }
    PreviewPane& pane_;
};

PreviewPane::PreviewPane(int width, QWidget* parent) : QWidget(parent) {
    setObjectName("preview");
    setFocusPolicy(Qt::ClickFocus);
    canvas_ = new PreviewCanvas(*this, width);
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setObjectName("previewSlider");
    slider_->setAccessibleName(tr("Preview moment"));
    slider_->setRange(0, 0);
    time_ = new QLabel(clockText(0));
    time_->setObjectName("previewTime");
    auto* row = new QHBoxLayout;
    row->addWidget(slider_, 1);
    row->addWidget(time_);
    strengthSlider_ = new QSlider(Qt::Horizontal);
    strengthSlider_->setObjectName("strengthSlider");
    strengthSlider_->setAccessibleName(tr("Strength"));
    strengthSlider_->setRange(0, 100);
    strengthLabel_ = new QLabel;
    strengthLabel_->setObjectName("strengthValue");
    strengthLabel_->setBuddy(strengthSlider_);
    // As wide as its widest text, so that the slider keeps still while it moves.
    strengthLabel_->setMinimumWidth(
        strengthLabel_->fontMetrics().horizontalAdvance(tr("Strength %1 %").arg(100)));
    auto* strengthRow = new QHBoxLayout;
    strengthRow->addWidget(strengthLabel_);
    strengthRow->addWidget(strengthSlider_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(canvas_);
    layout->addLayout(row);
    layout->addLayout(strengthRow);
    showStrength();
    // While the slider moves, each position asks; the worker grades only the latest.
    connect(slider_, &QSlider::valueChanged, this, [this](int ms) {
        moment_ = ms / 1000.0;
        updateTimeLabel(moment_);
        requestFrame(false);
    });
    // Coalesced as the moments are: only the latest strength is graded.
    connect(strengthSlider_, &QSlider::valueChanged, this, [this](int percent) {
        strength_ = percent / 100.0;
        showStrength();
        requestFrame(false);
        emit strengthChanged(*strength_);
    });
    QPointer<PreviewPane> self(this);
    worker_ = std::make_unique<PreviewWorker>([self](PreviewResult result) {
        QMetaObject::invokeMethod(
            self,
            [self, result = std::move(result)] {
                if (self)
                    self->present(result);
            },
            Qt::QueuedConnection);
    });
    setVisible(false);
}

PreviewPane::~PreviewPane() {
    worker_.reset(); // no result arrives once the pane is going
}

void PreviewPane::setSources(const std::optional<ExportRequest>& sources,
                             std::optional<double> strength) {
    sources_.reset(); // no request for the files going
    setStrength(strength);
    sources_ = sources;
    setVisible(sources.has_value());
    if (sources)
        requestFrame(true);
}

void PreviewPane::setStrength(std::optional<double> strength) {
    if (strength)
        strength = std::clamp(std::isfinite(*strength) ? *strength : 1.0, 0.0, 1.0);
    if (strength == strength_)
        return;
    strength_ = strength;
    showStrength();
    requestFrame(false);
}

void PreviewPane::showStrength() {
    const int percent = static_cast<int>(std::lround(strength_.value_or(1.0) * 100));
    const QSignalBlocker quiet(strengthSlider_);
    strengthSlider_->setValue(percent);
    strengthSlider_->setEnabled(strength_.has_value());
    strengthLabel_->setText(strength_ ? tr("Strength %1 %").arg(percent) : tr("Strength"));
}

void PreviewPane::setSplit(double fraction) {
    split_ = std::clamp(std::isfinite(fraction) ? fraction : 0.5, 0.0, 1.0);
    canvas_->update();
}

void PreviewPane::showMoment(double seconds) {
    const int ms = static_cast<int>(std::lround(std::max(0.0, seconds) * 1000));
    if (slider_->maximum() >= ms && slider_->value() != ms) {
        slider_->setValue(ms); // asks through valueChanged
        return;
    }
    moment_ = seconds;
    requestFrame(false);
}

void PreviewPane::requestFrame(bool reopen) {
    if (!sources_)
        return;
    ExportRequest request = *sources_;
    request.strengthOverride = strength_;
    worker_->request(request, moment_, reopen);
}

void PreviewPane::present(const PreviewResult& result) {
    if (result.serial <= shownSerial_)
        return; // an older request's answer, overtaken
    shownSerial_ = result.serial;
    shown_ = result;
    if (!result.graded.isNull()) {
        canvas_->setFixedHeight(std::max(1, canvas_->width() * result.graded.height() /
                                                std::max(1, result.graded.width())));
        const double duration = result.durationSeconds;
        const QSignalBlocker quiet(slider_);
        slider_->setRange(0, std::isfinite(duration) && duration > 0
                                 ? static_cast<int>(std::lround(duration * 1000))
                                 : 0);
        updateTimeLabel(result.seconds);
    }
    canvas_->update();
    emit updated();
}

void PreviewPane::updateTimeLabel(double seconds) {
    time_->setText(clockText(seconds));
}

void PreviewPane::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space)
        return QWidget::keyPressEvent(event);
    sourceOnly_ = true;
    canvas_->update();
}

void PreviewPane::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space || event->isAutoRepeat())
        return QWidget::keyReleaseEvent(event);
    sourceOnly_ = false;
    canvas_->update();
}

} // namespace vantrel::app
