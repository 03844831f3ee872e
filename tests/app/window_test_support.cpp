#include "window_test_support.hpp"

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QProcess>

namespace vantrel::app::test {

std::optional<QString> ScriptedDesktop::runPanel(QWidget*, const PanelRequest& request) {
    panelsShown << request;
    if (panelAnswers.empty())
        qFatal("a panel was shown that the test did not expect");
    auto answer = panelAnswers.front();
    panelAnswers.pop_front();
    return answer;
}

bool ScriptedDesktop::confirm(QWidget*, const QString& question) {
    questionsAsked << question;
    return confirmAnswer;
}

QString shown(const ContentView& view, const char* name) {
    auto* widget = part<QWidget>(view, name);
    if (!widget->isVisibleTo(const_cast<ContentView*>(&view)))
        return "(hidden)";
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* elided = qobject_cast<ElidedLabel*>(widget))
        return elided->shownText();
    return "(no text)";
}

ExportFunction recordingExport(std::optional<ExportRequest>& seen) {
    return [&seen](const ExportRequest& request, const ExportOptions&) {
        seen = request;
        ExportResult result;
        result.outputPath = request.outputPath;
        return result;
    };
}

bool makeMedia(const QString& arguments, const QString& output) {
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-nostdin", "-y", "-loglevel", "error"} +
                               QProcess::splitCommand(arguments) + QStringList{output});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

bool makeClip(const QString& output) {
    return makeMedia("-f lavfi -i testsrc2=size=160x90:rate=25 -frames:v 10 -c:v libx264 "
                     "-pix_fmt yuv420p",
                     output);
}

void writeIdentityJob(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(R"({"version": 1, "grade": {"lutCube": )"
               R"("LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n"}})");
}

QString text(const std::optional<Location>& location) {
    return location ? toQString(*location) : QStringLiteral("(none)");
}

} // namespace vantrel::app::test
