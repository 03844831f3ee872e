// vantrel: the desktop window.

#include <cstdlib>

#include <QApplication>
#include <QIcon>

#include "app/command_line.hpp"
#include "app/content_view.hpp"
#include "app/desktop.hpp"
#include "exporter/exporter.hpp"

int main(int argc, char** argv) {
    vantrel::Exporter::prepareProcess();
    // Before the application: without a display it could not even print --help.
    if (auto exitCode = vantrel::app::answerWithoutWindow(argc, argv, VANTREL_VERSION))
        return *exitCode;
    const auto files = vantrel::app::fileArguments(argc, argv);
    // A lost display connection ends the program through exit(): the partial file
    // of a running export goes with it.
    std::atexit([] { vantrel::Exporter::removePartialFilesNow(); });

    QApplication application(argc, argv);
    QApplication::setApplicationName("Vantrel");
    QApplication::setApplicationVersion(VANTREL_VERSION);
    QApplication::setDesktopFileName("vantrel");
    QApplication::setWindowIcon(QIcon::fromTheme("vantrel"));
    application.setProperty("applicationBuild", QStringLiteral(VANTREL_BUILD));

    vantrel::app::SystemDesktop desktop;
    vantrel::app::ContentView window(desktop);
    // A logout or `kill` stops the export as closing does, without asking.
    vantrel::app::TerminationSignals termination([&window] { window.stopAndClose(); });
    vantrel::app::openFiles(window, files, std::filesystem::current_path());
    window.show();
    return application.exec();
}
