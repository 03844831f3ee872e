#pragma once
// `vantrel [FILE...]`: files named on the command line (or handed over by a file
// manager's "Open With") are applied to the window exactly as dropped files are.

#include <filesystem>
#include <string>
#include <vector>

namespace vantrel::app {

class ContentView;

// `arguments` are the program's arguments after its name and options, as the
// bytes main() was given: paths, relative to `workingDirectory` and used as those
// bytes whatever their encoding, or file:// URLs (read as UTF-8 text). Files that
// are not local are skipped.
void openFiles(ContentView& view, const std::vector<std::string>& arguments,
               const std::filesystem::path& workingDirectory);

} // namespace vantrel::app
