#pragma once
// How the process meets the outside before and around the window: `vantrel [FILE...]`
// and its options, and the signals a logout or `kill` sends. Files named on the
// command line (or handed over by a file manager's "Open With") are applied to the
// window exactly as dropped files are.

#include <functional>
#include <memory>
#include <optional>

#include <QStringList>

namespace vantrel::app {

class ContentView;

// Reads the options without a display: `--help`, `--version` and a wrong option are
// answered on stdout/stderr (`version` is the one --version prints), and the exit
// code is returned. Otherwise nothing, and
// `files` holds the positional arguments. Call before the QApplication exists; it
// makes and removes a QCoreApplication of its own.
std::optional<int> answerWithoutWindow(int argc, char** argv, const QString& version,
                                       QStringList& files);

// `arguments` are the program's arguments after its name and options: paths,
// relative to `workingDirectory`, or file:// URLs. Files that are not local are
// skipped.
void openFiles(ContentView& view, const QStringList& arguments, const QString& workingDirectory);

// While it lives, SIGTERM, SIGINT and SIGHUP call `onFirst` on the main thread
// (through the event loop, never from the handler). A second signal removes the
// partial files of running exports and ends the process at once, with 128 + the
// signal's number. One at a time per process; the earlier handlers come back when
// it goes. Main thread only.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void()> onFirst);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    struct Watch;
    std::unique_ptr<Watch> watch_;
};

} // namespace vantrel::app
