#pragma once
// How the process meets the outside before and around the window: `vantrel [FILE...]`
// and its options, and the signals a logout or `kill` sends. Files named on the
// command line (or handed over by a file manager's "Open With") are applied to the
// window exactly as dropped files are.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QString>

namespace vantrel::app {

class ContentView;

// Reads the options without a display: `--help`, `--version` and a wrong option are
// answered on stdout/stderr (`version` is the one --version prints), and the exit
// code is returned; otherwise nothing. Call before the QApplication exists; it
// makes and removes a QCoreApplication of its own.
std::optional<int> answerWithoutWindow(int argc, char** argv, const QString& version);

// The arguments that are not options, as the bytes they were given in: a file
// name need not be text in any encoding.
std::vector<std::string> fileArguments(int argc, char** argv);

// `arguments` are the program's arguments after its name and options, as the
// bytes main() was given: paths, relative to `workingDirectory` and used as those
// bytes whatever their encoding, or file:// URLs (read as UTF-8 text). Files that
// are not local are skipped.
void openFiles(ContentView& view, const std::vector<std::string>& arguments,
               const std::filesystem::path& workingDirectory);

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
