// vantrel: the desktop window.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>

#include "app/command_line.hpp"
#include "app/content_view.hpp"
#include "app/desktop.hpp"

int main(int argc, char** argv) {
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
    vantrel::app::openFiles(window, parser.positionalArguments(), QDir::currentPath());
    window.show();
    return application.exec();
}
