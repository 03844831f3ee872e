// The window as a function of its state: when the export button is enabled, the
// progress and version lines, what starting an export asks for, long texts.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
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
    // A job and an input enable it; a LUT override, an output and a bitrate play no part.
    void exportEnablement() {
        for (int fields = 0; fields < 4; ++fields) {
            WindowState state;
            state.lutOverrideURL = "/in/look.cube";
            state.outputURL = "/out/final.mov";
            state.bitrateMbps = "12";
            state.jobURL = fields & 1 ? std::optional<Location>("/in/job.json") : std::nullopt;
            state.inputURL = fields & 2 ? std::optional<Location>("/in/clip.mov") : std::nullopt;
            ContentView view(desktop, runExporter, state);
            QCOMPARE(part<QPushButton>(view, "exportButton")->isEnabled(), fields == 3);
        }
    }

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
            return result;
        };
        ContentView view(desktop, record, state);
        view.startExport();
        view.applyDroppedFile("/in/job.json");
        desktop.panelAnswers = {std::nullopt, "/out/chosen.mp4"};
        view.startExport();
        QCoreApplication::processEvents();
        QVERIFY(!seen);
        QCOMPARE(view.state().statusText, QString("Ready"));
        QCOMPARE(view.state().outputURL, std::nullopt);

        QTest::keyClicks(part<QLineEdit>(view, "bitrateField"), " 12,5 ");
        QCOMPARE(view.state().bitrateMbps, QString(" 12,5 "));
        QTest::mouseClick(part<QPushButton>(view, "exportButton"), Qt::LeftButton);
        QTRY_VERIFY(!view.state().isExporting);
        QCOMPARE(desktop.panelsShown.size(), 2);
        QCOMPARE(desktop.panelsShown[1].proposedName, QString("clip_vantrel_10bit.mov"));
        QVERIFY(seen);
        QCOMPARE(seen->outputPath, Location("/out/chosen.mp4"));
        QCOMPARE(seen->bitrateOverrideBps, 12'500'000);
        QCOMPARE(view.state().statusText, QString("Done: /out/chosen.mp4"));
    }

    // Long names neither widen the window nor are read as markup.
    void longTexts() {
        const QString name = "<b>" + QString("very_").repeated(60) + "long.mov";
        WindowState state;
        state.inputURL = toLocation("/in/" + name);
        state.statusText = "Done: /in/" + name;
        ContentView view(desktop, runExporter, state);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.width(), 640);
        auto* caption = part<ElidedLabel>(view, "inputButtonCaption");
        QVERIFY(caption->shownText().startsWith("<b>very_") &&
                caption->shownText().endsWith(QChar(0x2026)));
        QCOMPARE(part<QLabel>(view, "status")->textFormat(), Qt::PlainText);
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
