// The window's preview: a real clip graded off the main thread, the split line,
// Space for the source, requests that coalesce, results that never go back in
// time, and a failing video explained in the pane rather than in an alert.

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include "app/preview_pane.hpp"
#include "window_test_support.hpp"

using namespace vantrel;
using namespace vantrel::app;
using namespace vantrel::app::test;

// The largest difference between the two sides, in 8-bit codes (rows without padding:
// the clip is 160 wide); 256 without a picture.
static int maxDifference(const PreviewResult& shown) {
    int most = shown.graded.isNull() ? 256 : 0;
    for (qsizetype i = 0; i < shown.graded.sizeInBytes(); ++i)
        most = std::max(most, std::abs(shown.graded.constBits()[i] - shown.source.constBits()[i]));
    return most;
}

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
        job.write(R"({"version": 1, "output": {"audio": "copy"}, "grade": {"lutCube": )"
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

    // The strength slider regrades the frame shown and reaches the export, never the job.
    void theStrengthSliderReachesPreviewAndExport() {
        std::optional<double> seen;
        std::pair<std::optional<bool>, std::optional<bool>> copies; // sound, tags
        auto record = [&](auto& r, auto&) {
            seen = r.strengthOverride;
            copies = {r.copyAudio, r.copyMetadata};
            return ExportResult{};
        };
        ScriptedDesktop desktop;
        ContentView view(desktop, record);
        view.applyDroppedFile(sources.inputPath);
        const auto jobWritten = QFileInfo(sources.jobPath.c_str()).lastModified();
        view.applyDroppedFile(sources.jobPath);
        QTRY_VERIFY(maxDifference(part<PreviewPane>(view, "preview")->shownResult()) > 100);
        part<QSlider>(view, "strengthSlider")->setValue(0);
        QTRY_VERIFY(maxDifference(part<PreviewPane>(view, "preview")->shownResult()) <= 1);
        view.startExport();
        QTRY_VERIFY(!view.state().isExporting);
        QCOMPARE(seen, 0.0);
        QVERIFY(copies == std::pair(std::optional(true), std::optional(false))); // as the job says
        QCOMPARE(QFileInfo(sources.jobPath.c_str()).lastModified(), jobWritten);
        view.applyDroppedFile(sources.jobPath); // back to the job's own strength
        QCOMPARE(shown(view, "strengthValue"), QString("Strength 100 %"));
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
