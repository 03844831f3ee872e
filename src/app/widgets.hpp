#pragma once
// The few widgets the window draws itself. Each is a plain view: ContentView sets
// what it shows, and user input goes back through callbacks; none keeps state of
// the window's own.

#include <functional>

#include <QColor>
#include <QFontMetrics>
#include <QLabel>
#include <QList>
#include <QPalette>
#include <QUrl>
#include <QWidget>

class QTimer;

namespace vantrel::app {

// The platform's text styles, relative to the application font; none under 9 pt.
enum class TextStyle { title2, body, callout, caption };
inline constexpr double smallestPointSize = 9;
void applyTextStyle(QWidget* widget, TextStyle style, bool semibold = false);
// The secondary foreground style: the palette's text colour at reduced emphasis.
void applySecondaryColour(QWidget* widget);
// The text colour moved towards the window colour as far as a 4.5:1 contrast with the
// window colour allows (no further than a third of the way).
QColor secondaryTextColour(const QPalette& palette);
// The contrast ratio of two colours, 1 to 21, from their relative luminance (sRGB).
double contrastRatio(const QColor& a, const QColor& b);

// `text` with every word (a run without white space) wider than `width` pixels
// elided in its middle to fit, so that word wrapping can place every line.
QString elideLongWords(const QString& text, const QFontMetrics& metrics, int width);

// One line of text, elided in its middle when it does not fit (a path keeps its
// start and its name's end); the text never widens its row.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent);
    void setText(const QString& text);
    QString text() const { return text_; }
    // What is drawn at the current width.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

// The rounded area that takes dropped files. It accepts only drags that carry local
// file URLs; hover and drop are reported through the callbacks.
class DropZone : public QWidget {
    Q_OBJECT
public:
    explicit DropZone(QWidget* parent);
    void setHighlighted(bool highlighted);
    bool highlighted() const { return highlighted_; }

    std::function<void(bool)> onHoverChanged;
    // Returns whether the drop was taken.
    std::function<bool(const QList<QUrl>&)> onDrop;

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool highlighted_ = false;
};

// A small indeterminate busy indicator: an arc turning around a faint ring. It
// animates only while visible.
class BusySpinner : public QWidget {
    Q_OBJECT
public:
    explicit BusySpinner(QWidget* parent);
    QSize sizeHint() const override { return {20, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer* timer_;
    int angle_ = 0;
};

} // namespace vantrel::app
