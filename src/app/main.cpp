// vantrel: the desktop window.

#include <csignal>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>

#include "app/command_line.hpp"
#include "app/content_view.hpp"
#include "app/desktop.hpp"
#include "exporter/exporter.hpp"

namespace {

// The window ended from outside (SIGTERM from a session manager, Ctrl-C in the
// terminal it was started from) leaves no partial file behind.
extern "C" void leaveOnSignal(int signal) {
    vantrel::Exporter::removePartialFilesNow();
    _exit(128 + signal);
}

// The arguments that are not options, as the bytes they were given in: a file
// name need not be text in any encoding.
std::vector<std::string> fileArguments(int argc, char** argv) {
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded && argument == "--")
            optionsEnded = true;
        else if (optionsEnded || argument.empty() || argument[0] != '-')
            files.push_back(argument);
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    vantrel::Exporter::ensureStandardDescriptors();
    std::signal(SIGPIPE, SIG_IGN);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, leaveOnSignal);
    // A lost display connection ends the program through exit(): the partial file
    // of a running export goes with it.
    std::atexit([] { vantrel::Exporter::removePartialFilesNow(); });
    const auto files = fileArguments(argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vantrel");
    QApplication::setApplicationVersion(VANTREL_VERSION);
    QApplication::setDesktopFileName("vantrel");
    QApplication::setWindowIcon(QIcon::fromTheme("vantrel"));
    application.setProperty("applicationBuild", QStringLiteral(VANTREL_BUILD));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QApplication::translate("main", "Renders a colour-graded 10-bit HEVC copy of a video."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QApplication::translate("main", "files"),
        QApplication::translate("main", "Job files (.json), LUTs (.cube) and videos "
                                        "(.mp4, .mov, .m4v) to open, as if dropped."),
        "[FILE...]");
    parser.process(application);

    vantrel::app::SystemDesktop desktop;
    vantrel::app::ContentView window(desktop);
    vantrel::app::openFiles(window, files, std::filesystem::current_path());
    window.show();
    return application.exec();
}
