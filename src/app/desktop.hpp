#pragma once
// What the window asks of the desktop: file panels, a yes/no question and revealing a
// file in the file manager. ContentView talks to the desktop only through this
// interface so that tests can answer in place of a person. Main thread only.

#include <optional>

#include <QString>
#include <QStringList>

class QWidget;

namespace vantrel::app {

struct PanelRequest {
    enum class Kind { open, save };
    Kind kind = Kind::open;
    // Shown in the panel's file-type list, e.g. "Videos".
    QString fileTypeLabel;
    // Extensions without the dot, in the order offered; the first is the save panel's
    // default suffix. Upper-case spellings are accepted as well.
    QStringList fileTypes;
    // Save panel: the name proposed in its name field.
    QString proposedName;
};

class Desktop {
public:
    virtual ~Desktop() = default;

    // Runs a modal panel; the chosen file's path, or nothing when the user cancelled.
    virtual std::optional<QString> runPanel(QWidget* parent, const PanelRequest& request) = 0;
    // A modal yes/no question; true when the user said yes.
    virtual bool confirm(QWidget* parent, const QString& question) = 0;
    // Shows the file in the desktop's file manager with it selected. Returns at once.
    virtual void reveal(const QString& path) = 0;
};

// The real desktop: QFileDialog, QMessageBox and the freedesktop file-manager call
// over D-Bus (falling back to opening the folder when no file manager answers).
class SystemDesktop : public Desktop {
public:
    std::optional<QString> runPanel(QWidget* parent, const PanelRequest& request) override;
    bool confirm(QWidget* parent, const QString& question) override;
    void reveal(const QString& path) override;
};

} // namespace vantrel::app
