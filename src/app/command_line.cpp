#include "app/command_line.hpp"

#include <QUrl>

#include "app/content_view.hpp"

namespace vantrel::app {

void openFiles(ContentView& view, const std::vector<std::string>& arguments,
               const std::filesystem::path& workingDirectory) {
    for (const auto& argument : arguments) {
        if (argument.find("://") == std::string::npos) {
            view.applyDroppedFile((workingDirectory / argument).lexically_normal());
            continue;
        }
        const QUrl url(QString::fromUtf8(argument.data(), static_cast<qsizetype>(argument.size())));
        if (url.isLocalFile())
            view.applyDroppedFile(toLocation(url.toLocalFile()));
    }
}

} // namespace vantrel::app
