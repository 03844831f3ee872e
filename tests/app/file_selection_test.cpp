// Choosing files: drops sent through the window as a drag would arrive, the scripted
// panels, the output proposal and files named on the command line.

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QTest>
#include <QWindow>

#include "app/command_line.hpp"
#include "window_test_support.hpp"

using namespace vantrel;
using namespace vantrel::app;
using namespace vantrel::app::test;

namespace {

QMimeData* filesData(const QStringList& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const auto& path : paths)
        urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

// A drag as the platform hands it to the window: QWidgetWindow routes each event to
// the widget under the point that accepts drops, as it does for a real drag.
class Drag {
public:
    Drag(ContentView& view, QMimeData* data) : window_(view.windowHandle()), data_(data) {}
    // A drag that a failed check cut short still ends, or Qt's drag bookkeeping would
    // point at a window that is gone.
    ~Drag() {
        if (!ended_)
            leave();
    }
    bool enter(QPoint at) { return send<QDragEnterEvent>(at); }
    bool move(QPoint to) { return send<QDragMoveEvent>(to); }
    bool drop(QPoint at) {
        ended_ = true;
        return send<QDropEvent>(at);
    }
    void leave() {
        ended_ = true;
        QDragLeaveEvent event;
        QCoreApplication::sendEvent(window_, &event);
    }

private:
    template <typename Event> bool send(QPoint at) {
        Event event(at, Qt::CopyAction, data_.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window_, &event);
        return event.isAccepted();
    }
    QWindow* window_;
    std::unique_ptr<QMimeData> data_;
    bool ended_ = false;
};

QPoint centreOf(const ContentView& view, const char* name) {
    auto* widget = part<QWidget>(view, name);
    return widget->mapTo(&view, widget->rect().center());
}

QColor outlineColour(const ContentView& view) {
    auto* zone = part<QWidget>(view, "dropZone");
    return zone->grab().toImage().pixelColor(zone->width() / 2, 0);
}

} // namespace

class FileSelectionTest : public QObject {
    Q_OBJECT

    ScriptedDesktop desktop;
    std::unique_ptr<ContentView> view;

private slots:
    void init() {
        desktop = ScriptedDesktop();
        view = std::make_unique<ContentView>(desktop);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }
    void cleanup() { view.reset(); }

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
        QTest::newRow("text") << "/in/notes.txt" << none << none << none << none;
        QTest::newRow("no extension") << "/in/clip" << none << none << none << none;
        QTest::newRow("folder") << "/in/folder/" << none << none << none << none;
        QTest::newRow("dot in the folder") << "/in/a.mov/b" << none << none << none << none;
    }
    void dropClassification() {
        QFETCH(QString, file);
        Drag drag(*view, filesData({file}));
        QVERIFY(drag.enter(centreOf(*view, "dropZone")));
        // Taken even when nothing comes of it: the drag carried a file.
        QVERIFY(drag.drop(centreOf(*view, "dropZone")));
        QCoreApplication::processEvents();
        QTEST(text(view->state().jobURL), "job");
        QTEST(text(view->state().lutOverrideURL), "lut");
        QTEST(text(view->state().inputURL), "input");
        QTEST(text(view->state().outputURL), "output");
    }

    void dropOfSeveralFilesSetsEachField() {
        Drag drag(*view, filesData({"/in/clip.mov", "/in/look.cube", "/in/job.json"}));
        QVERIFY(drag.enter(centreOf(*view, "dropZone")));
        QVERIFY(drag.drop(centreOf(*view, "dropZone")));
        // Applied by queued calls, after the drop has returned.
        QVERIFY(!view->state().jobURL);
        QCoreApplication::processEvents();
        QCOMPARE(shown(*view, "jobButtonCaption"), QString("job.json"));
        QCOMPARE(shown(*view, "lutButtonCaption"), QString("look.cube"));
        QCOMPARE(shown(*view, "inputButtonCaption"), QString("clip.mov"));
        QCOMPARE(shown(*view, "outputButtonCaption"), QString("clip_vantrel_10bit.mov"));
    }

    // Entering the zone switches hint, outline and opacity together; leaving it, for
    // another part of the window or for elsewhere, switches them back. Only the zone
    // takes drops.
    void hoverFollowsTheDrag() {
        const QColor accent = view->palette().color(QPalette::Highlight);
        const QPoint zone = centreOf(*view, "dropZone"), status = centreOf(*view, "status");
        Drag drag(*view, filesData({"/in/clip.mov"}));
        QVERIFY(!drag.enter(status));
        QVERIFY(!view->state().isDropTarget);
        QVERIFY(outlineColour(*view) != accent);

        QVERIFY(drag.move(zone));
        QVERIFY(view->state().isDropTarget);
        QCOMPARE(shown(*view, "dropHint"), QString("Drop now…"));
        QCOMPARE(outlineColour(*view), accent);

        QVERIFY(!drag.move(status));
        QVERIFY(!view->state().isDropTarget);
        QCOMPARE(shown(*view, "dropHint"), QString("Or use the buttons below"));
        QVERIFY(outlineColour(*view) != accent);
        QVERIFY(!drag.drop(status));
        QCoreApplication::processEvents();
        QVERIFY(!view->state().inputURL);

        Drag again(*view, filesData({"/in/clip.mov"}));
        QVERIFY(again.enter(zone));
        again.leave();
        QVERIFY(!view->state().isDropTarget);
    }

    void dragWithoutLocalFilesNeitherHighlightsNorDrops() {
        auto* text = new QMimeData;
        text->setText("/in/clip.mov");
        auto* web = new QMimeData;
        web->setUrls({QUrl("https://example.org/clip.mov")});
        for (QMimeData* data : {text, web}) {
            QVERIFY(!view->handleDrop(data->urls()));
            Drag drag(*view, data);
            QVERIFY(!drag.enter(centreOf(*view, "dropZone")));
            QVERIFY(!view->state().isDropTarget);
            QVERIFY(!drag.drop(centreOf(*view, "dropZone")));
        }
        QCoreApplication::processEvents();
        QVERIFY(!view->state().inputURL);
    }

    // The first input fixes the output; later inputs leave it, by panel or by drop.
    void outputProposalIsMadeOnce() {
        desktop.panelAnswers = {QString("/a/one.mov"), QString("/c/three.m4v")};
        view->pickInput();
        view->applyDroppedFile("/b/two.mp4");
        view->pickInput();
        QCOMPARE(text(view->state().inputURL), QString("/c/three.m4v"));
        QCOMPARE(text(view->state().outputURL), QString("/a/one_vantrel_10bit.mov"));
    }

    void openPanelsAskForTheirTypesAndCancelChangesNothing() {
        desktop.panelAnswers = {QString("/in/job.json"),
                                QString("/in/look.cube"),
                                QString("/in/clip.MOV"),
                                std::nullopt,
                                std::nullopt,
                                std::nullopt};
        for (int round = 0; round < 2; ++round) {
            view->pickJob();
            view->pickLutOverride();
            view->pickInput();
        }
        QCOMPARE(text(view->state().jobURL), QString("/in/job.json"));
        QCOMPARE(text(view->state().lutOverrideURL), QString("/in/look.cube"));
        QCOMPARE(text(view->state().inputURL), QString("/in/clip.MOV"));
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
        WindowState state;
        if (!input.isEmpty())
            state.inputURL = toLocation(input);
        if (!output.isEmpty())
            state.outputURL = toLocation(output);
        ContentView window(desktop, runExporter, state);

        desktop.panelAnswers = {std::nullopt, QString("/out/chosen.mp4")};
        window.pickOutput();
        QCOMPARE(text(window.state().outputURL), output.isEmpty() ? "(none)" : output);
        window.pickOutput();
        QCOMPARE(text(window.state().outputURL), QString("/out/chosen.mp4"));
        const auto& panel = desktop.panelsShown.first();
        QCOMPARE(panel.kind, PanelRequest::Kind::save);
        QTEST(panel.proposedName, "proposed");
        QCOMPARE(panel.fileTypes, (QStringList{"mov", "mp4"}));
    }

    void filesOnTheCommandLineAreAppliedAsDropped() {
        openFiles(*view,
                  {"job.json", "file:///in/look.cube", "sub/clip.M4V", "notes.txt",
                   "https://example.org/other.mov"},
                  "/work/dir");
        QCOMPARE(text(view->state().jobURL), QString("/work/dir/job.json"));
        QCOMPARE(text(view->state().lutOverrideURL), QString("/in/look.cube"));
        QCOMPARE(text(view->state().inputURL), QString("/work/dir/sub/clip.M4V"));
        QCOMPARE(text(view->state().outputURL), QString("/work/dir/sub/clip_vantrel_10bit.mp4"));
    }
};

QTEST_MAIN(FileSelectionTest)
#include "file_selection_test.moc"
