// Exports started from the window: a real export to "Done: " and the reveal, a real
// failure to the alert, the busy state, and closing or destroying a window while its
// export runs.

#include <atomic>
#include <csignal>
#include <future>
#include <stdexcept>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/command_line.hpp"
#include "window_test_support.hpp"

using namespace vantrel;
using namespace vantrel::app;
using namespace vantrel::app::test;

namespace {

// Runs ffmpeg with `arguments` before the output path; false when it failed.
bool makeMedia(const QString& arguments, const QString& output) {
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-nostdin", "-y", "-loglevel", "error"} +
                               QProcess::splitCommand(arguments) + QStringList{output});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

// An export held after its first progress report: until the test releases it, or
// until the window stops it (then it ends as cancelled, or fails when `failOnStop`).
struct HeldExport {
    bool untilStopped = true;
    bool failOnStop = false;
    std::atomic<bool> started{false};
    std::optional<Location> lutSeen;
    std::promise<void> released;

    ExportFunction function() {
        return [this, go = released.get_future().share()](const ExportRequest& request,
                                                          const ExportOptions& options) {
            lutSeen = request.lutOverridePath;
            options.progress(5, 10);
            started = true;
            if (untilStopped) {
                options.cancellation->wait(false);
                if (failOnStop)
                    throw std::runtime_error("the encoder failed while stopping");
                throw ExportCancelled();
            }
            go.wait();
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
        QFile file(job); // a job whose LUT leaves colours as they are
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            R"({"version": 1, "grade": {"lutCube": )"
            R"("LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n"}})");
        file.close();
        QVERIFY(makeMedia(
            "-f lavfi -i testsrc2=size=160x90:rate=25 -frames:v 10 -c:v libx264 -pix_fmt yuv420p",
            clip));
    }
    void init() { desktop = ScriptedDesktop(); }

    // A real failure shows the engine's reason, as plain text, in an alert that OK
    // dismisses; then a real export ends at "Done: " and can be revealed.
    void realExportsThroughTheWindow() {
        const QString silent = folder.filePath("silent.mov"), output = folder.filePath("out.mov");
        QVERIFY(makeMedia("-f lavfi -i sine=duration=0.2 -c:a aac", silent));
        WindowState state = readyState(output);
        state.inputURL = toLocation(silent);
        ContentView view(desktop, runExporter, state);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.startExport();
        QTRY_VERIFY_WITH_TIMEOUT(!view.state().isExporting, 60000);
        QCOMPARE(view.state().statusText, QString("Failed: the input has no video track"));
        auto* alert = part<QMessageBox>(view, "alert");
        QTRY_VERIFY(alert->isVisible());
        QCOMPARE(std::tuple(alert->text(), alert->informativeText(), alert->buttons().size()),
                 std::tuple(QString("The input has no video track."), view.state().errorText,
                            qsizetype(1)));
        for (auto* label : alert->findChildren<QLabel*>()) // shown as written, never as markup
            QVERIFY(label->text().isEmpty() || label->textFormat() == Qt::PlainText);
        QTest::mouseClick(alert->buttons().first(), Qt::LeftButton);
        QTRY_VERIFY(!view.state().showError && !view.findChild<QMessageBox*>("alert"));

        view.applyDroppedFile(toLocation(clip));
        QTest::mouseClick(part<QPushButton>(view, "exportButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!view.state().isExporting, 120000);
        QCOMPARE(shown(view, "status"), "Done: " + output);
        QCOMPARE(shown(view, "revealButton"), QString("Show in Folder"));
        QTest::mouseClick(part<QPushButton>(view, "revealButton"), Qt::LeftButton);
        QCOMPARE(desktop.revealed, QStringList{output});
    }

    // Closing or quitting asks first; a "no" lets the export finish, a "yes" stops it
    // and the window closes once the export has unwound, with no alert even when the
    // unwinding ends in a failure; SIGTERM (a logout, `kill`) stops it without asking. While it
    // runs: the busy look, progress beside the spinner, the rest still usable, and the LUT override
    // as it is when the task begins.
    void closingDuringAnExport_data() {
        QTest::addColumn<QString>("how"); // close the window, quit the application, or signal
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("failOnStop");
        QTest::newRow("close, stop") << "close" << true << false;
        QTest::newRow("close, keep exporting") << "close" << false << false;
        QTest::newRow("quit, stop") << "quit" << true << false;
        QTest::newRow("close, stop fails") << "close" << true << true;
        QTest::newRow("SIGTERM") << "signal" << true << false;
    }
    void closingDuringAnExport() {
        QFETCH(QString, how);
        QFETCH(bool, confirm);
        QFETCH(bool, failOnStop);
        HeldExport held;
        held.untilStopped = desktop.confirmAnswer = confirm;
        held.failOnStop = failOnStop;
        const QString output = folder.filePath("held.mov");
        ContentView view(desktop, held.function(), readyState(output));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* button = part<QPushButton>(view, "exportButton");
        QTest::mouseClick(button, Qt::LeftButton);
        view.applyDroppedFile("/in/late.cube");
        QCOMPARE(std::pair(button->text(), button->isEnabled()),
                 std::pair(QString("Exporting…"), false));
        QVERIFY(part<QWidget>(view, "spinner")->isVisible());
        QTRY_COMPARE(shown(view, "progress").left(3), QString("50%"));
        QCOMPARE(part<QProgressBar>(view, "progress")->value(), 50);
        QCOMPARE(text(held.lutSeen), QString("/in/late.cube"));
        QVERIFY(part<QPushButton>(view, "jobButton")->isEnabled());
        TerminationSignals termination([&view] { view.stopAndClose(); });
        if (how == "quit") {
            // Quitting asks only a running application; it ends when the window has
            // closed itself (the guard ends the loop should it never).
            QTimer::singleShot(60000, [] { QCoreApplication::exit(1); });
            QTimer::singleShot(0, [] { QCoreApplication::quit(); });
            QCOMPARE(QCoreApplication::exec(), 0);
        } else if (how == "signal") {
            QVERIFY(::raise(SIGTERM) == 0 &&
                    QTest::qWaitFor([&view] { return !view.isVisible(); }));
        } else {
            QVERIFY(!view.close());
        }
        const QString asked =
            "An export is running. Stop it and close? [Stop Export|Keep Exporting]";
        QCOMPARE(desktop.questionsAsked, how == "signal" ? QStringList() : QStringList{asked});
        if (confirm) {
            QTRY_VERIFY(!view.isVisible());
            QVERIFY(!view.state().isExporting && !view.state().showError);
            QCOMPARE(view.findChild<QMessageBox*>("alert"), nullptr);
            return;
        }
        QVERIFY(view.isVisible());
        held.released.set_value();
        QTRY_VERIFY(!view.state().isExporting);
        QCOMPARE(view.state().statusText, "Done: " + output);
        QVERIFY(button->isEnabled() && !part<QWidget>(view, "spinner")->isVisible());
        QCOMPARE(shown(view, "progress"), QString("(hidden)"));
        QVERIFY(view.close());
        QCOMPARE(desktop.questionsAsked.size(), 1);
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
