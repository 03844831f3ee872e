#pragma once
// How vantrel-cli's long-running verbs meet the signals that end a session.

#include "exporter/exporter.hpp"

namespace vantrel::cli {

// From now on Ctrl-C (SIGINT), SIGTERM and SIGHUP set the returned token, which
// the running exports watch; a second such signal removes the partial files of the
// running exports and leaves at once with status 130. Call from the main thread
// before work starts.
const CancellationToken& stopOnSignals();

} // namespace vantrel::cli
