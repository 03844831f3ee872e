#include "app/command_line.hpp"

#include <QUrl>

#include "app/content_view.hpp"

namespace vantrel::app {

void openFiles(ContentView& view, const QStringList& arguments, const QString& workingDirectory) {
    for (const auto& argument : arguments) {
        const QUrl url = QUrl::fromUserInput(argument, workingDirectory, QUrl::AssumeLocalFile);
        if (url.isLocalFile())
            view.applyDroppedFile(toLocation(url.toLocalFile()));
    }
}

} // namespace vantrel::app
