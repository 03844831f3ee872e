// Choosing files: drops sent through the window as a drag would arrive, the scripted
// panels, the output proposal and files named on the command line.

#include <QApplication>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "app/command_line.hpp"
#include "app/widgets.hpp"
#include "window_test_support.hpp"

using namespace vantrel;
using namespace vantrel::app;
using namespace vantrel::app::test;

namespace {

QList<QUrl> fileUrls(const QStringList& paths) {
    QList<QUrl> urls;
    for (const auto& path : paths)
        urls << QUrl::fromLocalFile(path);
    return urls;
}

// A drag as the platform hands it to the window: enter and move at a point of the
// window, then a drop or a leave. QWidgetWindow routes each to the widget under the
// point that accepts drops, as it does for a real drag.
class Drag {
public:
    Drag(ContentView& view, QMimeData* data) : window_(view.windowHandle()), data_(data) {}
    // A drag that a failed check cut short still ends, or Qt's drag bookkeeping would
    // point at a window that is gone.
    ~Drag() {
        if (!ended_)
            leave();
        delete data_;
    }

    bool enter(QPoint at) {
        QDragEnterEvent event(at, Qt::CopyAction, data_, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window_, &event);
        return event.isAccepted();
    }
    bool move(QPoint to) {
        QDragMoveEvent event(to, Qt::CopyAction, data_, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window_, &event);
        return event.isAccepted();
    }
    bool drop(QPoint at) {
        QDropEvent event(at, Qt::CopyAction, data_, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window_, &event);
        ended_ = true;
        return event.isAccepted();
    }
    void leave() {
        QDragLeaveEvent event;
        QCoreApplication::sendEvent(window_, &event);
        ended_ = true;
    }

private:
    QWindow* window_;
    QMimeData* data_;
    bool ended_ = false;
};

QMimeData* filesData(const QStringList& paths) {
    auto* data = new QMimeData;
    data->setUrls(fileUrls(paths));
    return data;
}

QPoint zoneCentre(const ContentView& view) {
    auto* zone = part<QWidget>(view, "dropZone");
    return zone->mapTo(&view, zone->rect().center());
}

QPoint statusPoint(const ContentView& view) {
    auto* status = part<QWidget>(view, "status");
    return status->mapTo(&view, status->rect().center());
}

QColor outlineColour(const ContentView& view) {
    auto* zone = part<QWidget>(view, "dropZone");
    return zone->grab().toImage().pixelColor(zone->width() / 2, 0);
}

} // namespace

class FileSelectionTest : public QObject {
    Q_OBJECT

    ScriptedDesktop desktop;

    void showAndWait(ContentView& view) {
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }

private slots:
    void init() { desktop = ScriptedDesktop(); }

    void dropClassification_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("job");
        QTest::addColumn<QString>("lut");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        const QString none = "(none)";
        QTest::newRow("job") << "/in/job.JSON"
                             << "/in/job.JSON" << none << none << none;
        QTest::newRow("lut") << "/in/look.Cube" << none << "/in/look.Cube" << none << none;
        QTest::newRow("mov") << "/in/clip.MOV" << none << none << "/in/clip.MOV"
                             << "/in/clip_vantrel_10bit.mov";
        QTest::newRow("m4v") << "/in/clip.m4v" << none << none << "/in/clip.m4v"
                             << "/in/clip_vantrel_10bit.mp4";
        QTest::newRow("mp4") << "/in/a.b.mp4" << none << none << "/in/a.b.mp4"
                             << "/in/a.b_vantrel_10bit.mp4";
        QTest::newRow("text") << "/in/notes.txt" << none << none << none << none;
        QTest::newRow("no extension") << "/in/clip" << none << none << none << none;
        QTest::newRow("folder") << "/in/folder/" << none << none << none << none;
        QTest::newRow("extension only in the folder")
            << "/in/clip.mov/readme" << none << none << none << none;
    }
    void dropClassification() {
        QFETCH(QString, file);
        ContentView view(desktop);
        showAndWait(view);
        Drag drag(view, filesData({file}));
        QVERIFY(drag.enter(zoneCentre(view)));
        // Taken even when nothing comes of it: the drag carried a file.
        QVERIFY(drag.drop(zoneCentre(view)));
        QCoreApplication::processEvents();
        QTEST(text(view.state().jobURL), "job");
        QTEST(text(view.state().lutOverrideURL), "lut");
        QTEST(text(view.state().inputURL), "input");
        QTEST(text(view.state().outputURL), "output");
        QVERIFY(!view.state().isDropTarget);
    }

    void dropOfSeveralFilesSetsEachField() {
        ContentView view(desktop);
        showAndWait(view);
        Drag drag(view, filesData({"/in/clip.mov", "/in/look.cube", "/in/job.json"}));
        QVERIFY(drag.enter(zoneCentre(view)));
        QVERIFY(drag.drop(zoneCentre(view)));
        // Applied by queued calls, after the drop has returned.
        QVERIFY(!view.state().jobURL);
        QCoreApplication::processEvents();
        QCOMPARE(text(view.state().jobURL), QString("/in/job.json"));
        QCOMPARE(text(view.state().lutOverrideURL), QString("/in/look.cube"));
        QCOMPARE(text(view.state().inputURL), QString("/in/clip.mov"));
        QCOMPARE(text(view.state().outputURL), QString("/in/clip_vantrel_10bit.mov"));
        QCOMPARE(part<ElidedLabel>(view, "jobButtonCaption")->text(), QString("job.json"));
        QVERIFY(part<QPushButton>(view, "exportButton")->isEnabled());
    }

    void hoverHighlightsTheZoneUntilTheDragLeaves() {
        ContentView view(desktop);
        showAndWait(view);
        const QColor accent = view.palette().color(QPalette::Highlight);
        auto* hint = part<QLabel>(view, "dropHint");
        QVERIFY(outlineColour(view) != accent);

        Drag drag(view, filesData({"/in/clip.mov"}));
        QVERIFY(drag.enter(zoneCentre(view)));
        QVERIFY(view.state().isDropTarget);
        QCOMPARE(hint->text(), QString("Drop now…"));
        QCOMPARE(outlineColour(view), accent);

        // Out of the zone, over the status line: the zone lets go.
        QVERIFY(!drag.move(statusPoint(view)));
        QVERIFY(!view.state().isDropTarget);
        QCOMPARE(hint->text(), QString("Or use the buttons below"));
        QVERIFY(outlineColour(view) != accent);

        QVERIFY(!drag.drop(statusPoint(view)));
        QCoreApplication::processEvents();
        QVERIFY(!view.state().inputURL);

        // Back in and away from the window altogether.
        QVERIFY(drag.move(zoneCentre(view)));
        QVERIFY(view.state().isDropTarget);
        drag.leave();
        QVERIFY(!view.state().isDropTarget);
    }

    void dragOutsideTheZoneIsRefused() {
        ContentView view(desktop);
        showAndWait(view);
        Drag drag(view, filesData({"/in/clip.mov"}));
        QVERIFY(!drag.enter(statusPoint(view)));
        QVERIFY(!view.state().isDropTarget);
        QVERIFY(!drag.drop(statusPoint(view)));
        QCoreApplication::processEvents();
        QVERIFY(!view.state().inputURL);
    }

    void dragWithoutLocalFilesNeitherHighlightsNorDrops_data() {
        QTest::addColumn<bool>("url");
        QTest::newRow("plain text") << false;
        QTest::newRow("web address") << true;
    }
    void dragWithoutLocalFilesNeitherHighlightsNorDrops() {
        QFETCH(bool, url);
        ContentView view(desktop);
        showAndWait(view);
        auto* data = new QMimeData;
        if (url)
            data->setUrls({QUrl("https://example.org/clip.mov")});
        else
            data->setText("/in/clip.mov");
        Drag drag(view, data);
        QVERIFY(!drag.enter(zoneCentre(view)));
        QVERIFY(!view.state().isDropTarget);
        QVERIFY(!drag.drop(zoneCentre(view)));
        QVERIFY(!view.handleDrop(data->urls()));
        QCoreApplication::processEvents();
        QVERIFY(!view.state().inputURL);
    }

    // The first input fixes the output; later inputs leave it, by panel or by drop.
    void outputProposalIsMadeOnce() {
        ContentView view(desktop);
        desktop.panelAnswers = {QString("/a/one.mov")};
        view.pickInput();
        QCOMPARE(text(view.state().outputURL), QString("/a/one_vantrel_10bit.mov"));
        view.applyDroppedFile("/b/two.mp4");
        desktop.panelAnswers = {QString("/c/three.m4v")};
        view.pickInput();
        QCOMPARE(text(view.state().inputURL), QString("/c/three.m4v"));
        QCOMPARE(text(view.state().outputURL), QString("/a/one_vantrel_10bit.mov"));
    }

    void openPanelsAskForTheirTypesAndCancelChangesNothing() {
        ContentView view(desktop);
        desktop.panelAnswers = {QString("/in/job.json"),
                                QString("/in/look.cube"),
                                QString("/in/clip.MOV"),
                                std::nullopt,
                                std::nullopt,
                                std::nullopt};
        view.pickJob();
        view.pickLutOverride();
        view.pickInput();
        const WindowState before = view.state();
        view.pickJob();
        view.pickLutOverride();
        view.pickInput();
        QCOMPARE(text(view.state().jobURL), QString("/in/job.json"));
        QCOMPARE(text(view.state().lutOverrideURL), QString("/in/look.cube"));
        QCOMPARE(text(view.state().inputURL), QString("/in/clip.MOV"));
        QCOMPARE(text(view.state().outputURL), text(before.outputURL));

        QCOMPARE(desktop.panelsShown.size(), 6);
        const QList<QStringList> types = {{"json"}, {"cube"}, {"mp4", "mov", "m4v"}};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(desktop.panelsShown[i].kind, PanelRequest::Kind::open);
            QCOMPARE(desktop.panelsShown[i].fileTypes, types[i]);
        }
    }

    void outputPanelProposesTheCurrentOrDefaultName_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("proposed");
        QTest::newRow("output set") << "/in/clip.mp4"
                                    << "/out/final.mov"
                                    << "final.mov";
        QTest::newRow("input only") << "/in/clip.mp4"
                                    << ""
                                    << "clip_vantrel_10bit.mp4";
        QTest::newRow("neither") << ""
                                 << ""
                                 << "vantrel_vantrel_10bit.mov";
    }
    void outputPanelProposesTheCurrentOrDefaultName() {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QFETCH(QString, proposed);
        WindowState state;
        if (!input.isEmpty())
            state.inputURL = toLocation(input);
        if (!output.isEmpty())
            state.outputURL = toLocation(output);
        ContentView view(desktop, runExporter, state);

        desktop.panelAnswers = {std::nullopt, QString("/out/chosen.mp4")};
        view.pickOutput();
        QCOMPARE(text(view.state().outputURL), output.isEmpty() ? "(none)" : output);
        view.pickOutput();
        QCOMPARE(text(view.state().outputURL), QString("/out/chosen.mp4"));

        const auto& panel = desktop.panelsShown.first();
        QCOMPARE(panel.kind, PanelRequest::Kind::save);
        QCOMPARE(panel.proposedName, proposed);
        QCOMPARE(panel.fileTypes, (QStringList{"mov", "mp4"}));
    }

    void filesOnTheCommandLineAreAppliedAsDropped() {
        ContentView view(desktop);
        openFiles(view,
                  {"job.json", "file:///in/look.cube", "sub/clip.M4V", "notes.txt",
                   "https://example.org/other.mov"},
                  "/work/dir");
        QCOMPARE(text(view.state().jobURL), QString("/work/dir/job.json"));
        QCOMPARE(text(view.state().lutOverrideURL), QString("/in/look.cube"));
        QCOMPARE(text(view.state().inputURL), QString("/work/dir/sub/clip.M4V"));
        QCOMPARE(text(view.state().outputURL), QString("/work/dir/sub/clip_vantrel_10bit.mp4"));
    }
};

QTEST_MAIN(FileSelectionTest)
#include "file_selection_test.moc"
