#include "app/widgets.hpp"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

namespace vantrel::app {

namespace {

bool carriesLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return false;
    const auto urls = data->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

double scaleOf(TextStyle style) {
    switch (style) {
    case TextStyle::title2:
        return 1.3;
    case TextStyle::body:
        return 1.0;
    case TextStyle::callout:
        return 0.92;
    case TextStyle::caption:
        return 0.77;
    }
    return 1.0;
}

constexpr qreal cornerRadius = 12;

} // namespace

void applyTextStyle(QWidget* widget, TextStyle style, bool semibold) {
    QFont font = QApplication::font();
    const double scale = scaleOf(style);
    // Fonts are given in points or, on some desktops, in pixels.
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(std::max(font.pointSizeF() * scale, smallestPointSize));
    } else if (font.pixelSize() > 0) {
        const double smallestPixels =
            smallestPointSize * std::max(widget->logicalDpiY(), 72) / 72.0;
        font.setPixelSize(qRound(std::max(font.pixelSize() * scale, smallestPixels)));
    }
    if (semibold)
        font.setWeight(QFont::DemiBold);
    widget->setFont(font);
}

namespace {

double relativeLuminance(const QColor& colour) {
    auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

QColor mix(const QColor& from, const QColor& to, double amount) {
    auto channel = [amount](float a, float b) { return a + (b - a) * amount; };
    return QColor::fromRgbF(channel(from.redF(), to.redF()), channel(from.greenF(), to.greenF()),
                            channel(from.blueF(), to.blueF()));
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor secondaryTextColour(const QPalette& palette) {
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    // Emphasis steps down from full towards a third; the lightest readable step wins.
    QColor chosen = text;
    for (double amount = 0.02; amount <= 0.34; amount += 0.02) {
        const QColor candidate = mix(text, window, amount);
        if (contrastRatio(candidate, window) < 4.5)
            break;
        chosen = candidate;
    }
    return chosen;
}

QString elideLongWords(const QString& text, const QFontMetrics& metrics, int width) {
    QString result;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !text[end].isSpace())
            ++end;
        result += metrics.elidedText(text.mid(start, end - start), Qt::ElideMiddle, width);
        for (start = end; start < text.size() && text[start].isSpace(); ++start)
            result += text[start];
    }
    return result;
}

void applySecondaryColour(QWidget* widget) {
    QPalette palette = widget->palette();
    const QColor secondary = secondaryTextColour(QApplication::palette());
    palette.setColor(QPalette::WindowText, secondary);
    palette.setColor(QPalette::Text, secondary);
    widget->setPalette(palette);
}

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    updateGeometry();
    update();
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text_, Qt::ElideMiddle, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text_), fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

DropZone::DropZone(QWidget* parent) : QWidget(parent) {
    setAcceptDrops(true);
}

void DropZone::setHighlighted(bool highlighted) {
    if (highlighted == highlighted_)
        return;
    highlighted_ = highlighted;
    update();
}

void DropZone::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.setClipPath(shape);

    QColor background = palette().color(QPalette::Window);
    background.setAlphaF(highlighted_ ? 0.8f : 0.4f);
    painter.fillPath(shape, background);

    QColor outline = palette().color(QPalette::Highlight);
    if (!highlighted_) {
        outline = QApplication::palette().color(QPalette::PlaceholderText);
        outline.setAlphaF(0.4f);
    }
    painter.setPen(QPen(outline, 1));
    painter.setBrush(Qt::NoBrush);
    // Half a pixel in, so the one-pixel line falls on whole pixels inside the clip.
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5,
                            cornerRadius - 0.5);
}

void DropZone::dragEnterEvent(QDragEnterEvent* event) {
    if (!carriesLocalFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (onHoverChanged)
        onHoverChanged(true);
}

void DropZone::dragMoveEvent(QDragMoveEvent* event) {
    if (carriesLocalFiles(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void DropZone::dragLeaveEvent(QDragLeaveEvent*) {
    if (onHoverChanged)
        onHoverChanged(false);
}

void DropZone::dropEvent(QDropEvent* event) {
    if (onHoverChanged)
        onHoverChanged(false);
    const bool taken =
        carriesLocalFiles(event->mimeData()) && onDrop && onDrop(event->mimeData()->urls());
    if (taken)
        event->acceptProposedAction();
    else
        event->ignore();
}

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
    setFixedSize(sizeHint());
    timer_->setInterval(50);
    connect(timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void BusySpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF ring = QRectF(rect()).adjusted(2, 2, -2, -2);
    QColor track = QApplication::palette().color(QPalette::PlaceholderText);
    track.setAlphaF(0.3f);
    painter.setPen(QPen(track, 2.5));
    painter.drawEllipse(ring);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2.5, Qt::SolidLine, Qt::RoundCap));
    // Qt's angles are in sixteenths of a degree, counter-clockwise.
    painter.drawArc(ring, -angle_ * 16, 100 * 16);
}

void BusySpinner::showEvent(QShowEvent*) {
    timer_->start();
}

void BusySpinner::hideEvent(QHideEvent*) {
    timer_->stop();
}

} // namespace vantrel::app
