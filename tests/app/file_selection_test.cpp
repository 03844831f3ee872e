// Choosing files: drops sent through the window as a drag would arrive, the scripted
// panels, the output proposal and files named on the command line.

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "app/command_line.hpp"
#include "window_test_support.hpp"

using namespace vantrel;
using namespace vantrel::app;
using namespace vantrel::app::test;

namespace {

QMimeData* urlData(const QStringList& urls) {
    auto* data = new QMimeData;
    QList<QUrl> list;
    for (const auto& url : urls)
        list << (url.startsWith('/') ? QUrl::fromLocalFile(url) : QUrl(url));
    data->setUrls(list);
    return data;
}

// A drag as the platform hands it to the window: QWidgetWindow routes each event to
// the widget under the point that accepts drops. A drag cut short by a failed check
// still ends, or Qt's drag bookkeeping would point at a window that is gone.
class Drag {
public:
    Drag(ContentView& view, QMimeData* data) : window_(view.windowHandle()), data_(data) {}
    ~Drag() {
        if (!ended_)
            leave();
    }
    bool enter(QPoint at) { return send<QDragEnterEvent>(at); }
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

} // namespace

class FileSelectionTest : public QObject {
    Q_OBJECT

    ScriptedDesktop desktop;
    std::unique_ptr<ContentView> view;
    QString hintDuringDrag;

    // Drops `urls` on the zone; whether the drag was taken on entry and on drop.
    std::pair<bool, bool> dropOnZone(const QStringList& urls) {
        Drag drag(*view, urlData(urls));
        const bool entered = drag.enter(centreOf(*view, "dropZone"));
        hintDuringDrag = shown(*view, "dropHint");
        const bool dropped = drag.drop(centreOf(*view, "dropZone"));
        QCoreApplication::processEvents(); // files are applied by queued calls
        return {entered, dropped};
    }
    QStringList fields() const {
        const auto& s = view->state();
        return {text(s.jobURL), text(s.lutOverrideURL), text(s.inputURL), text(s.outputURL)};
    }

private slots:
    void init() {
        desktop = ScriptedDesktop();
        view = std::make_unique<ContentView>(desktop);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }
    void cleanup() { view.reset(); }

    // Each local file goes by its extension, in any letter case; the rest of the drag
    // is taken and left; the hint shows while the drag is over the zone. A drag of remote
    // URLs only is refused outright.
    void dropClassification() {
        QCOMPARE(dropOnZone({"/in/job.JSON", "/in/look.Cube", "/in/clip.MOV", "/in/notes.txt",
                             "/in/a.mov/b", "https://example.org/job.json"}),
                 std::make_pair(true, true));
        QCOMPARE(fields(), (QStringList{"/in/job.JSON", "/in/look.Cube", "/in/clip.MOV",
                                        "/in/clip_vantrel_10bit.mov"}));
        QCOMPARE(std::pair(hintDuringDrag, shown(*view, "dropHint")),
                 std::pair(QString("Drop now…"), QString("Or use the buttons below")));
        // A LUT the export would pass over (here: missing) is named at its row until cleared.
        QVERIFY(shown(*view, "lutWarning").contains("cannot be read"));
        QTest::mouseClick(part<QPushButton>(*view, "lutClearButton"), Qt::LeftButton);
        QCOMPARE(std::pair(text(view->state().lutOverrideURL), shown(*view, "lutWarning")),
                 std::pair(QString("(none)"), QString("(hidden)")));
        init();
        QCOMPARE(dropOnZone({"https://example.org/clip.mov"}), std::make_pair(false, false));
        QVERIFY(!view->state().isDropTarget);
        QCOMPARE(view->state().inputURL, std::nullopt);
    }

    // Open panels ask for their types and a cancel changes nothing; the first input
    // fixes the output, later ones leave it; the save panel proposes the current name.
    void panelsAndTheOutputProposal() {
        desktop.panelAnswers = {"/in/job.json", "/in/look.cube", "/a/one.mov",   std::nullopt,
                                std::nullopt,   std::nullopt,    "/c/three.mp4", std::nullopt};
        for (int round = 0; round < 2; ++round) {
            view->pickJob();
            view->pickLutOverride();
            view->pickInput();
        }
        view->pickInput();
        QCOMPARE(fields(), (QStringList{"/in/job.json", "/in/look.cube", "/c/three.mp4",
                                        "/a/one_vantrel_10bit.mov"}));
        const QList<QStringList> types = {{"json"}, {"cube"}, {"mp4", "mov", "m4v"}};
        for (int i = 0; i < 3; ++i)
            QCOMPARE(desktop.panelsShown[i].fileTypes, types[i]);
        // The save panel opens where the proposal lies, on its name and type.
        desktop.panelAnswers = {"/b/two.mp4", std::nullopt};
        for (const auto& expected : {QStringList{"/a", "one_vantrel_10bit.mov", "mov"},
                                     QStringList{"/b", "two.mp4", "mp4"}}) {
            view->pickOutput();
            const auto& p = desktop.panelsShown.last();
            QCOMPARE((QStringList{p.folder, p.proposedName, p.fileTypes[0]}), expected);
        }
        QCOMPARE(part<QWidget>(*view, "outputButtonCaption")->toolTip(), QString("/b/two.mp4"));
    }

    void filesOnTheCommandLineAreAppliedAsDropped() {
        openFiles(*view,
                  std::vector<std::string>{"job.json", "file:///in/look.cube", "sub/clip.M4V",
                                           "notes.txt", "https://example.org/other.mov"},
                  "/work/dir");
        QCOMPARE(fields(),
                 (QStringList{"/work/dir/job.json", "/in/look.cube", "/work/dir/sub/clip.M4V",
                              "/work/dir/sub/clip_vantrel_10bit.mp4"}));
        // A name that is no UTF-8 is kept byte for byte.
        openFiles(*view, std::vector<std::string>{"caf\xE9.mp4"}, "/work/dir");
        QCOMPARE(view->state().inputURL->native(), std::string("/work/dir/caf\xE9.mp4"));
    }
};

QTEST_MAIN(FileSelectionTest)
#include "file_selection_test.moc"
