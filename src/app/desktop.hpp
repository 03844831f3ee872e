#pragma once
// What the window asks of the desktop: file panels, a yes/no question, revealing a
// file in the file manager and a notification. ContentView talks to the desktop only through this
// interface so that tests can answer in place of a person. Main thread only.

#include <functional>
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
    // The folder the panel opens in; empty for the panel's own choice.
    QString folder;
};

class Desktop {
public:
    virtual ~Desktop() = default;

    // Runs a modal panel; the chosen file's path, or nothing when the user cancelled.
    virtual std::optional<QString> runPanel(QWidget* parent, const PanelRequest& request) = 0;
    // A modal question with two answers on its buttons, `no` the default (the safe
    // one); true when the user chose `yes`.
    virtual bool confirm(QWidget* parent, const QString& question, const QString& yes,
                         const QString& no) = 0;
    // Shows the file in the desktop's file manager with it selected. Returns at once;
    // `failed` is called later, on the main thread, when nothing could show it.
    virtual void reveal(const QString& path, std::function<void()> failed) = 0;
    // A desktop notification, plain text; nothing when no notification service answers.
    virtual void notify(const QString& summary, const QString& body) = 0;
};

// The file:// URI of an absolute path, every byte outside the unreserved set
// percent-encoded, as file managers expect.
QString fileUri(const QString& path);

// The real desktop: QFileDialog, QMessageBox and the freedesktop file-manager and
// notification calls over D-Bus (the reveal falls back to opening the folder when no
// file manager answers).
class SystemDesktop : public Desktop {
public:
    std::optional<QString> runPanel(QWidget* parent, const PanelRequest& request) override;
    bool confirm(QWidget* parent, const QString& question, const QString& yes,
                 const QString& no) override;
    void reveal(const QString& path, std::function<void()> failed) override;
    void notify(const QString& summary, const QString& body) override;
};

} // namespace vantrel::app
