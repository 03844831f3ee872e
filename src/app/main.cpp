// vantrel: the desktop window.

#include <QApplication>
#include <QDir>
#include <QIcon>

#include "app/command_line.hpp"
#include "app/content_view.hpp"
#include "app/desktop.hpp"

int main(int argc, char** argv) {
    // Before the application: without a display it could not even print --help.
    QStringList files;
    if (auto exitCode = vantrel::app::answerWithoutWindow(argc, argv, VANTREL_VERSION, files))
        return *exitCode;

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
    vantrel::app::openFiles(window, files, QDir::currentPath());
    window.show();
    return application.exec();
}
