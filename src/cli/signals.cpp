#include "cli/signals.hpp"

#include <csignal>
#include <unistd.h>

namespace vantrel::cli {

namespace {

CancellationToken stopRequested{false};

extern "C" void onStopSignal(int) {
    if (stopRequested.exchange(true))
        _exit(130);
}

} // namespace

const CancellationToken& stopOnSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
    return stopRequested;
}

} // namespace vantrel::cli
