#pragma once
// The few widgets the window draws itself. Each is a plain view: ContentView sets
// what it shows, and user input goes back through callbacks; none keeps state of
// the window's own.

#include <functional>

#include <QLabel>
#include <QList>
#include <QUrl>
#include <QWidget>

class QTimer;

namespace vantrel::app {

// The platform's text styles, relative to the application font.
enum class TextStyle { title2, body, callout, caption };
void applyTextStyle(QWidget* widget, TextStyle style, bool semibold = false);
// The secondary foreground style: the palette's placeholder-text colour.
void applySecondaryColour(QWidget* widget);

// One line of text, elided at its end when it does not fit; the text never widens
// its row.
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
