// The window as a function of its state: what a new window shows, when the export
// button is enabled, the version line, the output name and bitrate read through the
// window, long names and long status texts.

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

    static WindowState ready() {
        WindowState state;
        state.jobURL = "/in/job.json";
        state.inputURL = "/in/clip.mov";
        return state;
    }

private slots:
    void init() {
        QApplication::setApplicationVersion("1.2.3");
        qApp->setProperty("applicationBuild", "45");
    }

    void newWindowShowsEveryCaption() {
        QApplication::setApplicationName("Vantrel");
        ContentView view(desktop);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.windowTitle(), QString("Vantrel"));
        const QList<std::pair<const char*, QString>> texts = {
            {"title", "Vantrel"},
            {"version", "v1.2.3 (45)"},
            {"dropTitle", "Drag & drop your Job JSON and video here"},
            {"dropHint", "Or use the buttons below"},
            {"jobButton", "Choose Job JSON…"},
            {"jobButtonCaption", "No job selected"},
            {"lutButton", "Choose LUT Override…"},
            {"lutButtonCaption", "Optional (uses LUT from job)"},
            {"inputButton", "Choose Input Video…"},
            {"inputButtonCaption", "No input selected"},
            {"outputButton", "Choose Output…"},
            {"outputButtonCaption", "Default next to input"},
            {"exportButton", "Export 10-bit HEVC"},
            {"progress", "(hidden)"},
            {"revealButton", "(hidden)"},
            {"status", "Ready"}};
        for (const auto& [name, text] : texts)
            QCOMPARE(shown(view, name), text);
        QVERIFY(!part<QPushButton>(view, "exportButton")->isEnabled());
        QVERIFY(!part<QWidget>(view, "spinner")->isVisible());
        auto* bitrate = part<QLineEdit>(view, "bitrateField");
        QVERIFY(bitrate->text().isEmpty());
        QCOMPARE(bitrate->placeholderText(), QString("Auto"));
        // 640 wide, 18 around: the drop zone spans the 604 between the insets.
        QCOMPARE(view.width(), 640);
        auto* zone = part<QWidget>(view, "dropZone");
        QCOMPARE(zone->x(), 18);
        QCOMPARE(zone->width(), 604);
    }

    void versionLine_data() {
        QTest::addColumn<QString>("shortVersion");
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("line");
        QTest::newRow("no short version") << ""
                                          << "45"
                                          << "v? (45)";
        QTest::newRow("no build") << "1.2.3"
                                  << ""
                                  << "v1.2.3 (?)";
    }
    void versionLine() {
        QFETCH(QString, shortVersion);
        QFETCH(QString, build);
        QApplication::setApplicationVersion(shortVersion);
        qApp->setProperty("applicationBuild", build);
        ContentView view(desktop);
        QTEST(shown(view, "version"), "line");
    }

    // A job and an input enable it; a LUT override, an output and a bitrate play no part.
    void exportEnablement_data() {
        QTest::addColumn<bool>("job");
        QTest::addColumn<bool>("input");
        QTest::addColumn<bool>("extras");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("job only") << true << false << true << false;
        QTest::newRow("input only") << false << true << true << false;
        QTest::newRow("job and input") << true << true << false << true;
        QTest::newRow("all") << true << true << true << true;
    }
    void exportEnablement() {
        QFETCH(bool, job);
        QFETCH(bool, input);
        QFETCH(bool, extras);
        WindowState state = ready();
        if (!job)
            state.jobURL.reset();
        if (!input)
            state.inputURL.reset();
        if (extras) {
            state.lutOverrideURL = "/in/look.cube";
            state.outputURL = "/out/final.mov";
            state.bitrateMbps = "12";
        }
        ContentView view(desktop, runExporter, state);
        QTEST(part<QPushButton>(view, "exportButton")->isEnabled(), "enabled");
    }

    // As proposed for an input chosen with the input panel.
    void defaultOutputName_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("name");
        QTest::newRow("upper-case mov") << "/in/clip.MOV"
                                        << "clip_vantrel_10bit.mov";
        QTest::newRow("upper-case m4v") << "/in/clip.M4V"
                                        << "clip_vantrel_10bit.mp4";
        QTest::newRow("mp4") << "/in/clip.mp4"
                             << "clip_vantrel_10bit.mp4";
        QTest::newRow("dotted base") << "/in/a.b.mp4"
                                     << "a.b_vantrel_10bit.mp4";
        QTest::newRow("no extension") << "/in/clip"
                                      << "clip_vantrel_10bit.mov";
        QTest::newRow("other extension") << "/in/clip.avi"
                                         << "clip_vantrel_10bit.mov";
        QTest::newRow("no input") << ""
                                  << "vantrel_vantrel_10bit.mov";
    }
    void defaultOutputName() {
        QFETCH(QString, input);
        QFETCH(QString, name);
        ContentView view(desktop);
        if (!input.isEmpty()) {
            desktop.panelAnswers = {input};
            view.pickInput();
            QCOMPARE(text(view.state().outputURL), "/in/" + name);
        }
        QCOMPARE(view.defaultOutputName(), name);
    }

    // Typed into the field, read when the export starts.
    void bitrateOverride_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("bps"); // -1: no override
        QTest::newRow("empty") << "" << qint64(-1);
        QTest::newRow("blanks") << "   " << qint64(-1);
        QTest::newRow("whole") << "12" << qint64(12'000'000);
        QTest::newRow("comma, padded") << " 12,5 " << qint64(12'500'000);
        QTest::newRow("comma is a decimal point") << "1,000" << qint64(1'000'000);
        QTest::newRow("two commas") << "1,000,000" << qint64(-1);
        QTest::newRow("exponent") << "1e3" << qint64(1'000'000'000);
        QTest::newRow("zero") << "0" << qint64(-1);
        QTest::newRow("negative") << "-5" << qint64(-1);
        QTest::newRow("word") << "abc" << qint64(-1);
        QTest::newRow("with unit") << "12 Mbps" << qint64(-1);
        QTest::newRow("infinite") << "1e400" << qint64(-1);
        QTest::newRow("below one bit") << "0.0000001" << qint64(0);
        QTest::newRow("one bit") << "0.0000015" << qint64(1);
    }
    void bitrateOverride() {
        QFETCH(QString, typed);
        QFETCH(qint64, bps);
        std::optional<app::ExportRequest> seen;
        WindowState state = ready();
        state.outputURL = "/in/out.mov";
        ContentView view(desktop, recordingExport(seen), state);
        QTest::keyClicks(part<QLineEdit>(view, "bitrateField"), typed);
        QCOMPARE(view.state().bitrateMbps, typed);
        view.startExport();
        QTRY_VERIFY(!view.state().isExporting);
        QVERIFY(seen);
        QCOMPARE(seen->bitrateOverrideBps.value_or(-1), bps);
    }

    // A long file name is cut at its end; a long status wraps, taller but no wider, and
    // can be selected. Neither is read as markup.
    void longTexts() {
        const QString name = "<b>" + QString("very_").repeated(60) + "long.mov";
        WindowState state;
        state.inputURL = toLocation("/in/" + name);
        state.statusText = "Done: /" + QString("folder/").repeated(40) + name;
        ContentView view(desktop, runExporter, state);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        ContentView plain(desktop);
        plain.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plain));

        auto* caption = part<ElidedLabel>(view, "inputButtonCaption");
        QVERIFY(caption->shownText().startsWith("<b>very_very_"));
        QVERIFY(caption->shownText().endsWith(QChar(0x2026)));
        QVERIFY(caption->fontMetrics().horizontalAdvance(caption->shownText()) <= caption->width());
        QCOMPARE(view.width(), 640);
        QVERIFY(view.height() > plain.height());

        auto* status = part<QLabel>(view, "status");
        QCOMPARE(status->textFormat(), Qt::PlainText);
        QVERIFY(status->textInteractionFlags().testFlags(Qt::TextSelectableByMouse |
                                                         Qt::TextSelectableByKeyboard));
        status->setSelection(0, 5);
        QCOMPARE(status->selectedText(), QString("Done:"));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
