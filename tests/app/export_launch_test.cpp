// Exports started from the window's own button: a real export to "Done: ", a real
// failure to "Failed." and the alert, the save panel when no output is set, the busy
// state, and closing or destroying a window while its export runs.

#include <atomic>
#include <thread>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "window_test_support.hpp"

using namespace vantrel;
using namespace vantrel::app;
using namespace vantrel::app::test;

namespace {

// An export that waits, once it has seen the first frame through the engine, until it
// is released or stopped; the real engine then finishes or unwinds.
struct HeldExport {
    std::atomic<bool> started{false};
    std::atomic<bool> released{false};

    ExportFunction function() {
        return [this](const app::ExportRequest& request, const ExportOptions& options) {
            ExportOptions held = options;
            held.progress = [this, &options](std::int64_t done, std::int64_t expected) {
                started = true;
                while (!released && !options.cancellation->load())
                    std::this_thread::yield();
                if (options.progress)
                    options.progress(done, expected);
            };
            return runExporter(request, held);
        };
    }
};

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class ExportLaunchTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    QString job, clip;

    QString path(const QString& name) const { return folder.filePath(name); }

    WindowState readyState(const QString& output = {}) const {
        WindowState state;
        state.jobURL = toLocation(job);
        state.inputURL = toLocation(clip);
        if (!output.isEmpty())
            state.outputURL = toLocation(output);
        return state;
    }

private slots:
    void initTestCase() {
        QVERIFY(folder.isValid());
        job = path("job.json");
        clip = path("clip.mov");
        writeIdentityJob(job);
        QVERIFY(makeClip(clip));
    }

    void realExportEndsAtDoneAndCanBeRevealed() {
        ScriptedDesktop desktop;
        ContentView view(desktop);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.applyDroppedFile(toLocation(job));
        view.applyDroppedFile(toLocation(clip));
        const QString output = path("clip_vantrel_10bit.mov");
        QCOMPARE(text(view.state().outputURL), output);
        QVERIFY(!part<QPushButton>(view, "revealButton")->isVisible());

        QTest::mouseClick(part<QPushButton>(view, "exportButton"), Qt::LeftButton);
        QCOMPARE(view.state().statusText, QString("Export started…"));
        QVERIFY(view.state().isExporting);
        QTRY_VERIFY_WITH_TIMEOUT(!view.state().isExporting, 120000);

        QCOMPARE(part<QLabel>(view, "status")->text(), "Done: " + output);
        QVERIFY(!view.state().showError);
        QCOMPARE(videoCodecOf(output), QString("hevc"));
        auto* reveal = part<QPushButton>(view, "revealButton");
        QVERIFY(reveal->isVisible());
        QCOMPARE(reveal->text(), QString("Show in Finder"));
        QTest::mouseClick(reveal, Qt::LeftButton);
        QCOMPARE(desktop.revealed, QStringList{output});
        QVERIFY(QFile::remove(output));
    }

    // The alert's text is the engine's full description; OK dismisses it, and a later
    // successful export replaces "Failed.".
    void realFailureShowsTheAlertUntilDismissed() {
        const QString silent = path("silent.mov");
        QVERIFY(makeMedia("-f lavfi -i sine=duration=0.2 -c:a aac", silent));
        WindowState state = readyState(path("never.mov"));
        state.inputURL = toLocation(silent);
        ScriptedDesktop desktop;
        ContentView view(desktop, runExporter, state);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        view.startExport();
        QTRY_VERIFY_WITH_TIMEOUT(!view.state().isExporting, 60000);
        QCOMPARE(view.state().statusText, QString("Failed."));
        const QString description = "export error 1: the input has no video track";
        QCOMPARE(view.state().errorText, description);
        QVERIFY(view.state().showError);
        auto* alert = view.findChild<QMessageBox*>("alert");
        QVERIFY(alert);
        QTRY_VERIFY(alert->isVisible());
        QCOMPARE(alert->text(), QString("Export Failed"));
        QCOMPARE(alert->informativeText(), description);
        QCOMPARE(alert->buttons().size(), 1);
        QCOMPARE(alert->buttons().first()->text(), QString("OK"));
        QVERIFY(!QFile::exists(path("never.mov")));

        QTest::mouseClick(alert->buttons().first(), Qt::LeftButton);
        QVERIFY(!view.state().showError);
        QTRY_VERIFY(!view.findChild<QMessageBox*>("alert"));

        view.applyDroppedFile(toLocation(clip));
        view.startExport();
        QTRY_VERIFY_WITH_TIMEOUT(!view.state().isExporting, 120000);
        QCOMPARE(view.state().statusText, "Done: " + path("never.mov"));
        QVERIFY(!view.state().showError);
        QVERIFY(QFile::remove(path("never.mov")));
    }

    // Without a job or an input nothing happens; without an output the save panel
    // asks, and a cancel leaves everything as it was.
    void startNeedsJobInputAndOutput() {
        std::optional<app::ExportRequest> seen;
        ScriptedDesktop desktop;
        WindowState noJob = readyState();
        noJob.jobURL.reset();
        ContentView view(desktop, recordingExport(seen), noJob);
        view.startExport();
        WindowState noInput = readyState(path("out.mov"));
        noInput.inputURL.reset();
        ContentView other(desktop, recordingExport(seen), noInput);
        other.startExport();

        view.applyDroppedFile(toLocation(job));
        desktop.panelAnswers = {std::nullopt, path("chosen.mp4")};
        view.startExport();
        QCoreApplication::processEvents();
        QVERIFY(!seen);
        QCOMPARE(desktop.panelsShown.size(), 1);
        for (const ContentView* window : {&view, &other}) {
            QCOMPARE(window->state().statusText, QString("Ready"));
            QVERIFY(!window->state().isExporting);
        }
        QVERIFY(!view.state().outputURL);

        QTest::mouseClick(part<QPushButton>(view, "exportButton"), Qt::LeftButton);
        QTRY_VERIFY(!view.state().isExporting);
        QCOMPARE(desktop.panelsShown[1].proposedName, QString("clip_vantrel_10bit.mov"));
        QCOMPARE(desktop.panelsShown[1].fileTypes, (QStringList{"mov", "mp4"}));
        QVERIFY(seen);
        QCOMPARE(toQString(seen->outputURL), path("chosen.mp4"));
        QCOMPARE(view.state().statusText, "Done: " + path("chosen.mp4"));
    }

    // Busy look while running, progress beside the spinner, and the LUT override as
    // it is when the task begins.
    void busyWhileExporting() {
        std::atomic<bool> release{false};
        std::optional<Location> lutSeen;
        ScriptedDesktop desktop;
        ContentView view(
            desktop,
            [&](const app::ExportRequest& r, const ExportOptions& options) {
                lutSeen = r.lutOverrideURL;
                options.progress(5, 10);
                while (!release && !options.cancellation->load())
                    std::this_thread::yield();
                ExportResult result;
                result.outputPath = r.outputURL;
                return result;
            },
            readyState(path("busy.mov")));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* button = part<QPushButton>(view, "exportButton");
        auto* spinner = part<QWidget>(view, "spinner");
        auto* progress = part<QLabel>(view, "progress");

        QTest::mouseClick(button, Qt::LeftButton);
        view.applyDroppedFile("/in/late.cube");
        QCOMPARE(button->text(), QString("Exporting…"));
        QVERIFY(!button->isEnabled());
        QVERIFY(spinner->isVisible());
        QTRY_VERIFY(progress->isVisible());
        QVERIFY2(progress->text().startsWith("50%"), qPrintable(progress->text()));
        QCOMPARE(text(lutSeen), QString("/in/late.cube"));
        // The rest of the window stays usable.
        QVERIFY(part<QPushButton>(view, "jobButton")->isEnabled());
        QVERIFY(part<QWidget>(view, "bitrateField")->isEnabled());

        release = true;
        QTRY_VERIFY(!view.state().isExporting);
        QCOMPARE(button->text(), QString("Export 10-bit HEVC"));
        QVERIFY(button->isEnabled());
        QVERIFY(!spinner->isVisible());
        QVERIFY(!progress->isVisible());
    }

    // Closing the window or quitting asks first; a "no" lets the export finish, a
    // "yes" stops it through the engine, leaves no partial file, and closes once the
    // engine has unwound.
    void closingDuringAnExport_data() {
        QTest::addColumn<bool>("quit"); // quit the application instead of closing
        QTest::addColumn<bool>("confirm");
        QTest::newRow("close, stop") << false << true;
        QTest::newRow("close, keep exporting") << false << false;
        QTest::newRow("quit, stop") << true << true;
    }
    void closingDuringAnExport() {
        QFETCH(bool, quit);
        QFETCH(bool, confirm);
        QTemporaryDir out;
        const QString output = out.filePath("held.mov");
        HeldExport held;
        ScriptedDesktop desktop;
        desktop.confirmAnswer = confirm;
        ContentView view(desktop, held.function(), readyState(output));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.startExport();
        QTRY_VERIFY_WITH_TIMEOUT(held.started, 60000);

        if (quit) {
            // Quitting asks only a running application; it ends when the window has
            // closed itself (a guard stops the loop should it never).
            QTimer guard;
            guard.setSingleShot(true);
            connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
            guard.start(60000);
            QTimer::singleShot(0, [] { QCoreApplication::quit(); });
            QCOMPARE(QCoreApplication::exec(), 0);
        } else {
            QVERIFY(!view.close());
            QVERIFY(view.isVisible());
        }
        QCOMPARE(desktop.questionsAsked, QStringList{"An export is running. Stop it and close?"});
        if (confirm) {
            QTRY_VERIFY_WITH_TIMEOUT(!view.isVisible(), 60000);
            QVERIFY(!view.state().isExporting);
            QVERIFY(!view.state().showError);
            QCOMPARE(entriesOf(out.path()), QStringList{});
        } else {
            QVERIFY(view.isVisible());
            held.released = true;
            QTRY_VERIFY_WITH_TIMEOUT(!view.state().isExporting, 120000);
            QCOMPARE(view.state().statusText, "Done: " + output);
            QVERIFY(view.close());
            QCOMPARE(desktop.questionsAsked.size(), 1);
        }
    }

    // A window that goes while its export runs (the application is torn down) stops
    // the export and waits for it; the outcome, arriving later, touches nothing.
    void destroyingTheWindowDuringAnExport() {
        QTemporaryDir out;
        HeldExport held;
        ScriptedDesktop desktop;
        auto* view = new ContentView(desktop, held.function(), readyState(out.filePath("x.mov")));
        view->startExport();
        QTRY_VERIFY_WITH_TIMEOUT(held.started, 60000);
        delete view;
        QCoreApplication::processEvents();
        QCOMPARE(entriesOf(out.path()), QStringList{});
    }
};

QTEST_MAIN(ExportLaunchTest)
#include "export_launch_test.moc"
