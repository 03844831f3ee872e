#pragma once
// `vantrel [FILE...]`: files named on the command line (or handed over by a file
// manager's "Open With") are applied to the window exactly as dropped files are.

#include <QStringList>

namespace vantrel::app {

class ContentView;

// `arguments` are the program's arguments after its name and options: paths,
// relative to `workingDirectory`, or file:// URLs. Files that are not local are
// skipped.
void openFiles(ContentView& view, const QStringList& arguments, const QString& workingDirectory);

} // namespace vantrel::app
