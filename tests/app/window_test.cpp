// The window as a function of its state: what a new window shows, when the export
// button is enabled, the version line, the output name and bitrate read through the
// window, long names and long status texts.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/widgets.hpp"
#include "window_test_support.hpp"

using namespace vantrel;
using namespace vantrel::app;
using namespace vantrel::app::test;

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QApplication::setApplicationName("Vantrel");
        QApplication::setApplicationVersion("1.2.3");
        qApp->setProperty("applicationBuild", "45");
    }

    void newWindowShowsEveryCaption() {
        ScriptedDesktop desktop;
        ContentView view(desktop);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        QCOMPARE(view.windowTitle(), QString("Vantrel"));
        QCOMPARE(view.width(), 640);
        QCOMPARE(part<QLabel>(view, "title")->text(), QString("Vantrel"));
        QCOMPARE(part<QLabel>(view, "version")->text(), QString("v1.2.3 (45)"));
        QCOMPARE(part<QLabel>(view, "dropTitle")->text(),
                 QString("Drag & drop your Job JSON and video here"));
        QCOMPARE(part<QLabel>(view, "dropHint")->text(), QString("Or use the buttons below"));
        const QList<std::pair<const char*, QString>> rows = {{"job", "Choose Job JSON…"},
                                                             {"lut", "Choose LUT Override…"},
                                                             {"input", "Choose Input Video…"},
                                                             {"output", "Choose Output…"}};
        const QStringList placeholders = {"No job selected", "Optional (uses LUT from job)",
                                          "No input selected", "Default next to input"};
        for (int i = 0; i < rows.size(); ++i) {
            const QByteArray name = QByteArray(rows[i].first) + "Button";
            QCOMPARE(part<QPushButton>(view, name)->text(), rows[i].second);
            QCOMPARE(part<ElidedLabel>(view, name + "Caption")->shownText(), placeholders[i]);
        }
        auto* bitrate = part<QLineEdit>(view, "bitrateField");
        QVERIFY(bitrate->text().isEmpty());
        QCOMPARE(bitrate->placeholderText(), QString("Auto"));
        QCOMPARE(bitrate->width(), 120);
        auto* exportButton = part<QPushButton>(view, "exportButton");
        QCOMPARE(exportButton->text(), QString("Export 10-bit HEVC"));
        QVERIFY(!exportButton->isEnabled());
        QVERIFY(!part<QWidget>(view, "spinner")->isVisible());
        QVERIFY(!part<QWidget>(view, "progress")->isVisible());
        QVERIFY(!part<QPushButton>(view, "revealButton")->isVisible());
        QCOMPARE(part<QLabel>(view, "status")->text(), QString("Ready"));
        // 18 around the content: the drop zone spans the 604 between the insets.
        auto* zone = part<QWidget>(view, "dropZone");
        QCOMPARE(zone->x(), 18);
        QCOMPARE(zone->width(), 604);
    }

    void versionLine_data() {
        QTest::addColumn<QString>("shortVersion");
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("line");
        QTest::newRow("both") << "1.2.3"
                              << "45"
                              << "v1.2.3 (45)";
        QTest::newRow("no short version") << ""
                                          << "45"
                                          << "v? (45)";
        QTest::newRow("no build") << "1.2.3"
                                  << ""
                                  << "v1.2.3 (?)";
        QTest::newRow("neither") << ""
                                 << ""
                                 << "v? (?)";
    }
    void versionLine() {
        QFETCH(QString, shortVersion);
        QFETCH(QString, build);
        QFETCH(QString, line);
        QApplication::setApplicationVersion(shortVersion);
        qApp->setProperty("applicationBuild", build);
        ScriptedDesktop desktop;
        ContentView view(desktop);
        QCOMPARE(part<QLabel>(view, "version")->text(), line);
    }

    void exportEnablement_data() {
        QTest::addColumn<bool>("job");
        QTest::addColumn<bool>("input");
        QTest::addColumn<bool>("extras"); // a LUT override, an output and a bitrate
        QTest::addColumn<bool>("enabled");
        QTest::newRow("nothing") << false << false << false << false;
        QTest::newRow("job only") << true << false << false << false;
        QTest::newRow("input only") << false << true << false << false;
        QTest::newRow("extras without job") << false << true << true << false;
        QTest::newRow("job and input") << true << true << false << true;
        QTest::newRow("job, input and extras") << true << true << true << true;
    }
    void exportEnablement() {
        QFETCH(bool, job);
        QFETCH(bool, input);
        QFETCH(bool, extras);
        QFETCH(bool, enabled);
        WindowState state;
        if (job)
            state.jobURL = "/in/job.json";
        if (input)
            state.inputURL = "/in/clip.mov";
        if (extras) {
            state.lutOverrideURL = "/in/look.cube";
            state.outputURL = "/out/final.mov";
            state.bitrateMbps = "12";
        }
        ScriptedDesktop desktop;
        ContentView view(desktop, runExporter, state);
        QCOMPARE(part<QPushButton>(view, "exportButton")->isEnabled(), enabled);
    }

    // The default output name as the output panel proposes it, for an input chosen
    // with the input panel.
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
        ScriptedDesktop desktop;
        ContentView view(desktop);
        if (!input.isEmpty()) {
            desktop.panelAnswers = {input};
            view.pickInput();
            QCOMPARE(text(view.state().inputURL), input);
        }
        QCOMPARE(view.defaultOutputName(), name);
        // The proposal next to the input uses the same name.
        if (!input.isEmpty())
            QCOMPARE(text(view.state().outputURL), "/in/" + name);
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
        std::optional<ExportRequest> seen;
        ScriptedDesktop desktop;
        WindowState state;
        state.jobURL = "/in/job.json";
        state.inputURL = "/in/clip.mov";
        state.outputURL = "/in/out.mov";
        ContentView view(desktop, recordingExport(seen), state);
        QTest::keyClicks(part<QLineEdit>(view, "bitrateField"), typed);
        QCOMPARE(view.state().bitrateMbps, typed);
        view.startExport();
        QTRY_VERIFY(!view.state().isExporting);
        QVERIFY(seen);
        QCOMPARE(seen->bitrateOverrideBps.value_or(-1), bps);
    }

    void longFileNameIsElidedAtItsEnd() {
        ScriptedDesktop desktop;
        WindowState state;
        const QString name = QString("very_").repeated(60) + "long.mov";
        state.inputURL = toLocation("/in/" + name);
        ContentView view(desktop, runExporter, state);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* caption = part<ElidedLabel>(view, "inputButtonCaption");
        QCOMPARE(caption->text(), name);
        QVERIFY(caption->shownText().startsWith("very_very_"));
        QVERIFY(caption->shownText().endsWith(QChar(0x2026)));
        QVERIFY(caption->fontMetrics().horizontalAdvance(caption->shownText()) <= caption->width());
        QCOMPARE(view.width(), 640);
    }

    void statusWrapsAndCanBeSelected() {
        ScriptedDesktop desktop;
        ContentView view(desktop);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const int oneLine = view.height();

        WindowState state;
        state.statusText = "Done: /" + QString("folder/").repeated(40) + "<b>clip</b>.mov";
        ContentView wrapped(desktop, runExporter, state);
        wrapped.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wrapped));
        auto* status = part<QLabel>(wrapped, "status");
        QVERIFY(status->wordWrap());
        QVERIFY(wrapped.height() > oneLine);
        QCOMPARE(wrapped.width(), 640);
        QCOMPARE(status->textFormat(), Qt::PlainText);
        QVERIFY(status->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
        QVERIFY(status->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
        status->setSelection(0, 5);
        QCOMPARE(status->selectedText(), QString("Done:"));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
