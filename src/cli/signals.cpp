#include "cli/signals.hpp"

#include <csignal>
#include <unistd.h>

#include "exporter/exporter.hpp"

namespace vantrel::cli {

namespace {

CancellationToken stopRequested{false};

// The second signal leaves without waiting for the encoder, but never without
// removing the partial files: the clean-up the normal way out would have done.
extern "C" void onStopSignal(int) {
    if (stopRequested.exchange(true)) {
        Exporter::removePartialFilesNow();
        _exit(130);
    }
}

} // namespace

const CancellationToken& stopOnSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    return stopRequested;
}

} // namespace vantrel::cli
