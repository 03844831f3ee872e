// Exports started from the window: a real export to "Done: " and the reveal, a real
// failure to the alert, the busy state, and closing or destroying a window while its
// export runs.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include <QApplication>
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

// An export held after its first progress report: until the test releases it, or
// until the window stops it (then it ends as cancelled, or fails when `failOnStop`).
struct HeldExport {
    bool untilStopped = true;
    bool failOnStop = false;
    std::atomic<bool> started{false};
    std::optional<Location> lutSeen;
    std::mutex mutex;
    std::condition_variable releasedChanged;
    bool released = false;

    void release() {
        std::lock_guard lock(mutex);
        released = true;
        releasedChanged.notify_all();
    }
    ExportFunction function() {
        return [this](const ExportRequest& request, const ExportOptions& options) {
            lutSeen = request.lutOverridePath;
            options.progress(5, 10);
            started = true;
            if (untilStopped) {
                options.cancellation->wait(false);
                if (failOnStop)
                    throw std::runtime_error("the encoder failed while stopping");
                throw ExportCancelled();
            }
            std::unique_lock lock(mutex);
            releasedChanged.wait(lock, [this] { return released; });
            ExportResult result;
            result.outputPath = request.outputPath;
            return result;
        };
    }
};

} // namespace

class ExportLaunchTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    QString job, clip;
    ScriptedDesktop desktop;

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
        job = folder.filePath("job.json");
        clip = folder.filePath("clip.mov");
        writeIdentityJob(job);
        QVERIFY(makeClip(clip));
    }
    void init() { desktop = ScriptedDesktop(); }

    void realExportEndsAtDoneAndCanBeRevealed() {
        ContentView view(desktop);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.applyDroppedFile(toLocation(job));
        view.applyDroppedFile(toLocation(clip));
        const QString output = folder.filePath("clip_vantrel_10bit.mov");
        QCOMPARE(shown(view, "revealButton"), QString("(hidden)"));

        QTest::mouseClick(part<QPushButton>(view, "exportButton"), Qt::LeftButton);
        QCOMPARE(view.state().statusText, QString("Export started…"));
        QTRY_VERIFY_WITH_TIMEOUT(!view.state().isExporting, 120000);
        QCOMPARE(shown(view, "status"), "Done: " + output);
        QVERIFY(QFile::exists(output));
        QCOMPARE(shown(view, "revealButton"), QString("Show in Finder"));
        QTest::mouseClick(part<QPushButton>(view, "revealButton"), Qt::LeftButton);
        QCOMPARE(desktop.revealed, QStringList{output});
        QVERIFY(QFile::remove(output));
    }

    // The alert shows the engine's full description as plain text; OK dismisses it.
    void realFailureShowsTheAlertUntilDismissed() {
        const QString silent = folder.filePath("silent.mov");
        QVERIFY(makeMedia("-f lavfi -i sine=duration=0.2 -c:a aac", silent));
        WindowState state = readyState(folder.filePath("never.mov"));
        state.inputURL = toLocation(silent);
        ContentView view(desktop, runExporter, state);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.startExport();
        QTRY_VERIFY_WITH_TIMEOUT(!view.state().isExporting, 60000);
        QCOMPARE(view.state().statusText, QString("Failed."));
        QVERIFY2(view.state().errorText.contains("export"), qPrintable(view.state().errorText));
        auto* alert = part<QMessageBox>(view, "alert");
        QTRY_VERIFY(alert->isVisible());
        QCOMPARE(alert->informativeText(), view.state().errorText);
        QCOMPARE(alert->buttons().size(), 1);
        QTest::mouseClick(alert->buttons().first(), Qt::LeftButton);
        QVERIFY(!view.state().showError);
        QTRY_VERIFY(!view.findChild<QMessageBox*>("alert"));
        QVERIFY(!QFile::exists(folder.filePath("never.mov")));
    }

    // Busy look while running, progress beside the spinner, the rest still usable, and
    // the LUT override as it is when the task begins.
    void busyWhileExporting() {
        HeldExport held;
        held.untilStopped = false;
        ContentView view(desktop, held.function(), readyState(folder.filePath("busy.mov")));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* button = part<QPushButton>(view, "exportButton");
        QTest::mouseClick(button, Qt::LeftButton);
        view.applyDroppedFile("/in/late.cube");
        QCOMPARE(button->text(), QString("Exporting…"));
        QVERIFY(!button->isEnabled());
        QVERIFY(part<QWidget>(view, "spinner")->isVisible());
        QTRY_COMPARE(shown(view, "progress").left(3), QString("50%"));
        QCOMPARE(text(held.lutSeen), QString("/in/late.cube"));
        QVERIFY(part<QPushButton>(view, "jobButton")->isEnabled());

        held.release();
        QTRY_VERIFY(!view.state().isExporting);
        QVERIFY(button->isEnabled());
        QVERIFY(!part<QWidget>(view, "spinner")->isVisible());
        QCOMPARE(shown(view, "progress"), QString("(hidden)"));
    }

    // Closing or quitting asks first; a "no" lets the export finish, a "yes" stops it
    // and the window closes once the export has unwound, with no alert even when the
    // unwinding ends in a failure.
    void closingDuringAnExport_data() {
        QTest::addColumn<bool>("quit"); // quit the application instead of closing
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("failOnStop");
        QTest::newRow("close, stop") << false << true << false;
        QTest::newRow("close, keep exporting") << false << false << false;
        QTest::newRow("quit, stop") << true << true << false;
        QTest::newRow("close, stop fails") << false << true << true;
    }
    void closingDuringAnExport() {
        QFETCH(bool, quit);
        QFETCH(bool, confirm);
        QFETCH(bool, failOnStop);
        HeldExport held;
        held.untilStopped = desktop.confirmAnswer = confirm;
        held.failOnStop = failOnStop;
        const QString output = folder.filePath("held.mov");
        ContentView view(desktop, held.function(), readyState(output));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.startExport();
        QTRY_VERIFY(held.started);
        if (quit) {
            // Quitting asks only a running application; it ends when the window has
            // closed itself (the guard ends the loop should it never).
            QTimer::singleShot(60000, [] { QCoreApplication::exit(1); });
            QTimer::singleShot(0, [] { QCoreApplication::quit(); });
            QCOMPARE(QCoreApplication::exec(), 0);
        } else {
            QVERIFY(!view.close());
        }
        QCOMPARE(desktop.questionsAsked, QStringList{"An export is running. Stop it and close?"});
        if (confirm) {
            QTRY_VERIFY(!view.isVisible());
            QVERIFY(!view.state().isExporting);
            QVERIFY(!view.state().showError);
            QCOMPARE(view.findChild<QMessageBox*>("alert"), nullptr);
        } else {
            QVERIFY(view.isVisible());
            held.release();
            QTRY_VERIFY(!view.state().isExporting);
            QCOMPARE(view.state().statusText, "Done: " + output);
            QVERIFY(view.close());
            QCOMPARE(desktop.questionsAsked.size(), 1);
        }
    }

    // A window that goes while its export runs (the application is torn down) stops
    // the export and waits for it; the outcome, arriving later, touches nothing.
    void destroyingTheWindowDuringAnExport() {
        HeldExport held;
        auto* view = new ContentView(desktop, held.function(), readyState("/nowhere/x.mov"));
        view->startExport();
        QTRY_VERIFY(held.started);
        delete view;
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(ExportLaunchTest)
#include "export_launch_test.moc"
