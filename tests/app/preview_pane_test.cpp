// The window's preview: a real clip graded off the main thread, the split line,
// Space for the source, requests that coalesce, results that never go back in
// time, and a failing video explained in the pane rather than in an alert.

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include "app/preview_pane.hpp"
#include "window_test_support.hpp"

using namespace vantrel;
using namespace vantrel::app;

class PreviewPaneTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    ExportRequest sources;

private slots:
    void initTestCase() {
        sources = {folder.filePath("job.json").toStdString(),
                   std::nullopt,
                   folder.filePath("clip.mp4").toStdString(),
                   {},
                   std::nullopt};
        QFile job(folder.filePath("job.json"));
        QVERIFY(job.open(QIODevice::WriteOnly));
        job.write(R"({"version": 1, "grade": {"lutCube": )"
                  R"("LUT_3D_SIZE 2\n1 1 1\n0 1 1\n1 0 1\n0 0 1\n1 1 0\n0 1 0\n1 0 0\n0 0 0\n"}})");
        job.close();
        QCOMPARE(QProcess::execute("ffmpeg", {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                              "testsrc2=size=160x90:rate=25:duration=2", "-c:v",
                                              "libx264", "-g", "25", "-pix_fmt", "yuv420p",
                                              folder.filePath("clip.mp4")}),
                 0);
    }

    void gradesTheClipAndFollowsTheUser() {
        PreviewPane pane(320);
        QVERIFY(pane.isHidden());
        pane.setSources(sources);
        QVERIFY(pane.isVisible());
        QTRY_VERIFY(pane.shownSerial() > 0);
        QCOMPARE(pane.message(), QString());
        QCOMPARE(pane.findChild<QWidget*>("previewCanvas")->height(), 180);
        QCOMPARE(pane.findChild<QSlider*>("previewSlider")->maximum(), 2000);

        auto* canvas = pane.findChild<QWidget*>("previewCanvas");
        QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(80, 50));
        QCOMPARE(pane.split(), 0.25);
        QTest::keyPress(&pane, Qt::Key_Space);
        QVERIFY(pane.showsSourceOnly());
        QTest::keyRelease(&pane, Qt::Key_Space);
        QVERIFY(!pane.showsSourceOnly());

        // A burst of moments, as a dragged slider sends them: the last one is what
        // stays on screen, and most were never graded.
        const auto before = pane.worker().framesGraded();
        for (int ms = 0; ms <= 1900; ms += 100)
            pane.showMoment(ms / 1000.0);
        QTRY_COMPARE(pane.shownSeconds(), 1.88);
        QVERIFY2(pane.worker().framesGraded() - before < 20,
                 qPrintable(QString::number(pane.worker().framesGraded() - before)));

        // An answer to an older request arriving late is dropped.
        const auto shown = pane.shownSerial();
        PreviewResult stale;
        stale.serial = shown - 1;
        stale.error = "stale";
        pane.present(stale);
        QCOMPARE(std::pair(pane.shownSerial(), pane.message()), std::pair(shown, QString()));
    }

    void aFailingVideoIsExplainedInThePane() {
        QFile notes(folder.filePath("notes.mp4"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("words, not pictures");
        notes.close();
        PreviewPane pane(320);
        pane.show();
        auto broken = sources;
        broken.inputPath = folder.filePath("notes.mp4").toStdString();
        pane.setSources(broken);
        QTRY_VERIFY(!pane.message().isEmpty());
        QVERIFY2(pane.message().contains("notes.mp4"), qPrintable(pane.message()));
        QCOMPARE(pane.findChild<QMessageBox*>(), nullptr);
        pane.setSources(std::nullopt);
        QVERIFY(!pane.isVisible());
    }
};

QTEST_MAIN(PreviewPaneTest)
#include "preview_pane_test.moc"
