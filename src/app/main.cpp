// vantrel: the desktop window.

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

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
    parser.process(application);

    vantrel::app::SystemDesktop desktop;
    vantrel::app::ContentView window(desktop);
    window.show();
    return application.exec();
}
