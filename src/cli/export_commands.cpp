#include "cli/commands.hpp"

namespace vantrel::cli {

void addExportCommands(CLI::App&, int&) {}

} // namespace vantrel::cli
