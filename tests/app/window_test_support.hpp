#pragma once
// Shared by the window tests: a desktop that answers as a scripted person would,
// and access to the window's parts by name.

#include <deque>
#include <optional>

#include <QString>
#include <QStringList>
#include <QVector>

#include "app/content_view.hpp"
#include "app/desktop.hpp"
#include "app/widgets.hpp"

namespace vantrel::app::test {

class ScriptedDesktop : public Desktop {
public:
    // Answers for the coming panels, in order: a path for OK, nothing for cancel.
    std::deque<std::optional<QString>> panelAnswers;
    QVector<PanelRequest> panelsShown;
    bool confirmAnswer = true;
    QStringList questionsAsked;
    QStringList revealed;
    bool revealFails = false;
    QStringList notifications; // "summary: body"

    std::optional<QString> runPanel(QWidget*, const PanelRequest& request) override;
    bool confirm(QWidget*, const QString& question, const QString& yes,
                 const QString& no) override {
        questionsAsked << question + " [" + yes + "|" + no + "]";
        return confirmAnswer;
    }
    void reveal(const QString& path, std::function<void()> failed) override {
        revealed << path;
        if (revealFails)
            failed();
    }
    void notify(const QString& what, const QString& body) override {
        notifications << what + ": " + body;
    }
};

template <typename Widget> Widget* part(const ContentView& view, const char* name) {
    auto* widget = view.findChild<Widget*>(name);
    if (!widget)
        qFatal("the window has no part named %s", name);
    return widget;
}

// What a person reads on the label or button named `name`; "(hidden)" when it is
// not shown.
QString shown(const ContentView& view, const char* name);

QString text(const std::optional<Location>& location);

} // namespace vantrel::app::test
