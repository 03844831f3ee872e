#include "window_test_support.hpp"

#include <QAbstractButton>
#include <QLabel>
#include <QProgressBar>

namespace vantrel::app::test {

std::optional<QString> ScriptedDesktop::runPanel(QWidget*, const PanelRequest& request) {
    panelsShown << request;
    if (panelAnswers.empty())
        qFatal("a panel was shown that the test did not expect");
    auto answer = panelAnswers.front();
    panelAnswers.pop_front();
    return answer;
}

QString shown(const ContentView& view, const char* name) {
    auto* widget = part<QWidget>(view, name);
    if (!widget->isVisibleTo(const_cast<ContentView*>(&view)))
        return "(hidden)";
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* bar = qobject_cast<QProgressBar*>(widget))
        return bar->text();
    if (auto* elided = qobject_cast<ElidedLabel*>(widget))
        return elided->shownText();
    return "(no text)";
}

QString text(const std::optional<Location>& location) {
    return location ? toQString(*location) : QStringLiteral("(none)");
}

} // namespace vantrel::app::test
