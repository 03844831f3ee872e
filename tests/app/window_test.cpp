// The window as a function of its state: when the export button is enabled, the
// progress and version lines, what starting an export asks for, readable texts, and
// the options answered without a display.

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "window_test_support.hpp"

using namespace vantrel;
using namespace vantrel::app;
using namespace vantrel::app::test;

class WindowTest : public QObject {
    Q_OBJECT

    ScriptedDesktop desktop;

private slots:
    void progressAndVersionLines() {
        const struct {
            std::int64_t done, expected;
            double seconds;
            QString text;
        } cases[] = {{0, 10, 1, "0%"},
                     {5, 10, 2, "50%, 0:02 left"},
                     {1, 3, 44.75, "33%, 1:30 left"},
                     {7, 0, 1, "7 frame(s)"},
                     // More frames than the index listed: done, with nothing left.
                     {30, 10, 6, "100%, 0:00 left"}};
        for (const auto& c : cases)
            QCOMPARE(progressText(c.done, c.expected, c.seconds), c.text);
        QCOMPARE(ContentView::versionLine("", "45"), QString("v? (45)"));
        QCOMPARE(ContentView::versionLine("1.2.3", ""), QString("v1.2.3 (?)"));
    }

    // Without a job nothing happens; without an output the save panel asks, and a
    // cancel leaves everything as it was. The bitrate typed is read when it starts
    // (the engine's own tests cover the reading of the text).
    void startNeedsJobAndOutputAndReadsTheBitrate() {
        std::optional<ExportRequest> seen;
        WindowState state;
        state.inputURL = "/in/clip.mov";
        auto record = [&seen](const ExportRequest& request, const ExportOptions&) {
            seen = request;
            ExportResult result;
            result.outputPath = request.outputPath;
            result.warnings = {"a warning"};
            return result;
        };
        ContentView view(desktop, record, state);
        view.startExport();
        view.applyDroppedFile("/in/job.json");
        desktop.panelAnswers = {std::nullopt, "/out/chosen.mp4"};
        view.startExport();
        QCoreApplication::processEvents();
        QVERIFY(!seen);
        QCOMPARE(view.state().outputURL, std::nullopt);

        QTest::keyClicks(part<QLineEdit>(view, "bitrateField"), " 12,5 ");
        QTest::mouseClick(part<QPushButton>(view, "exportButton"), Qt::LeftButton);
        QTRY_VERIFY(!view.state().isExporting);
        QVERIFY(seen);
        QCOMPARE(seen->outputPath, Location("/out/chosen.mp4"));
        QCOMPARE(seen->bitrateOverrideBps, 12'500'000);
        QCOMPARE(view.state().statusText, QString("Done: /out/chosen.mp4\nWarning: a warning"));
        QCOMPARE(desktop.notifications, QStringList{"Done: chosen.mp4"}); // never shown: inactive
    }

    // A job, an input and a bitrate that is empty or a number enable it (an unreadable
    // one is marked); the field is named by its label; Return presses the focused button.
    void exportEnablementAndKeyboard() {
        int started = 0;
        auto count = [&](auto&&...) { return ++started, ExportResult{}; };
        const std::tuple<bool, bool, const char*, bool> cases[] = {
            {false, true, "", false},       {true, false, "", false},
            {true, true, "12 Mbps", false}, {true, true, "abc", false},
            {true, true, " 12,5 ", true},   {true, true, "", true}};
        for (const auto& [job, input, bitrate, enabled] : cases) {
            WindowState state;
            state.outputURL = "/out/final.mov";
            state.jobURL = job ? std::optional<Location>("/in/job.json") : std::nullopt;
            state.inputURL = input ? std::optional<Location>("/in/clip.mov") : std::nullopt;
            ContentView view(desktop, count, state);
            auto* field = part<QLineEdit>(view, "bitrateField");
            QTest::keyClicks(field, bitrate);
            QCOMPARE(part<QPushButton>(view, "exportButton")->isEnabled(), enabled);
            QCOMPARE(shown(view, "bitrateHint").startsWith("Not a number"), *bitrate && !enabled);
            QCOMPARE(QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name),
                     QString("Bitrate (Mbps)"));
            QTest::keyClick(part<QPushButton>(view, "exportButton"), Qt::Key_Return);
            QTRY_VERIFY(!view.state().isExporting);
        }
        QCOMPARE(started, 2);
    }

    // Options are answered before any display is needed (--version goes the same way).
    void helpWithoutADisplay() {
        QProcess program;
        program.start("env", {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                              QCoreApplication::applicationDirPath() + "/../vantrel", "--help"});
        QVERIFY(program.waitForFinished(30000) && program.exitStatus() == QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(program.readAllStandardOutput().startsWith("Usage:"));
    }

    // Every text stays readable: secondary text keeps 4.5:1 on light and dark palettes
    // at reduced emphasis and no text is under 9 pt; long names neither widen the window
    // nor are read as markup, they lose their middle, the whole in a tooltip, and the
    // status shows every line; file URIs are encoded whole.
    void readableTexts() {
        QApplication::setFont(QFont("Sans", 8));
        QLabel small;
        applyTextStyle(&small, TextStyle::caption);
        const QString name = "<b>" + QString("very_").repeated(60) + "long.mov";
        WindowState state;
        state.inputURL = toLocation("/in/" + name);
        state.statusText = "Done: /in/" + name + "\nsecond line\nthird line";
        ContentView view(desktop, runExporter, state);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const auto* caption = part<ElidedLabel>(view, "inputButtonCaption");
        auto* status = part<QLabel>(view, "status");
        const std::pair<QString, QString> texts[] = {
            {QString::number(small.font().pointSizeF()), "9"},
            {QString::number(view.width()), "640"},
            {caption->shownText().left(8) + caption->shownText().right(8), "<b>very_long.mov"},
            {caption->accessibleName().left(21), "Input video: <b>very_"},
            {status->toolTip(), state.statusText},
            {fileUri("/dir with space %231/<b>x é"),
             "file:///dir%20with%20space%20%25231/%3Cb%3Ex%20%C3%A9"}};
        for (const auto& [shownText, expected] : texts)
            QCOMPARE(shownText, expected);
        QVERIFY(caption->shownText().contains(QChar(0x2026)) &&
                status->textFormat() == Qt::PlainText);
        for (const char* window : {"#EFEFEF", "#2B2B2B"}) { // light and dark, text derived
            const QPalette palette{QColor(window), QColor(window)};
            QVERIFY(secondaryTextColour(palette) != palette.color(QPalette::WindowText) &&
                    contrastRatio(secondaryTextColour(palette), QColor(window)) >= 4.5);
        }
        for (const auto& word : QString(status->text()).replace('\n', ' ').split(' '))
            QVERIFY(status->fontMetrics().horizontalAdvance(word) <= status->width());
        QVERIFY(status->height() >= status->heightForWidth(status->width()));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
