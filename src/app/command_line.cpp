#include "app/command_line.hpp"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QUrl>

#include "app/content_view.hpp"
#include "exporter/exporter.hpp"

namespace vantrel::app {

std::optional<int> answerWithoutWindow(int argc, char** argv, const QString& version) {
    // Only the core application: the widgets' one would need a display to say --help.
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName("vantrel");
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Renders a colour-graded 10-bit HEVC copy of a video."));
    const auto help = parser.addHelpOption();
    const auto versionOption = parser.addVersionOption();
    parser.addPositionalArgument(
        QCoreApplication::translate("main", "files"),
        QCoreApplication::translate("main", "Job files (.json), LUTs (.cube) and videos "
                                            "(.mp4, .mov, .m4v) to open, as if dropped."),
        "[FILE...]");
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "vantrel: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(versionOption)) {
        const QString text = parser.isSet(help) ? parser.helpText() : "vantrel " + version + "\n";
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    return std::nullopt;
}

std::vector<std::string> fileArguments(int argc, char** argv) {
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded && argument == "--")
            optionsEnded = true;
        else if (optionsEnded || argument.empty() || argument[0] != '-')
            files.push_back(argument);
    }
    return files;
}

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

namespace {

constexpr std::array watchedSignals{SIGTERM, SIGINT, SIGHUP};
// The handler's only way to the main thread: one byte down a socket the event loop
// watches.
int signalWriteEnd = -1;
std::atomic<bool> signalled{false};

extern "C" void onTerminationSignal(int signal) {
    if (signalled.exchange(true)) {
        // The second signal does not wait for the encoder, but never leaves debris.
        Exporter::removePartialFilesNow();
        _exit(128 + signal);
    }
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalWriteEnd, &byte, 1);
}

} // namespace

struct TerminationSignals::Watch {
    std::array<int, 2> ends{-1, -1};
    std::array<struct sigaction, watchedSignals.size()> earlier{};
    std::unique_ptr<QSocketNotifier> notifier;
};

TerminationSignals::TerminationSignals(std::function<void()> onFirst)
    : watch_(std::make_unique<Watch>()) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, watch_->ends.data()) != 0)
        return;
    signalled = false;
    signalWriteEnd = watch_->ends[0];
    watch_->notifier = std::make_unique<QSocketNotifier>(watch_->ends[1], QSocketNotifier::Read);
    QObject::connect(watch_->notifier.get(), &QSocketNotifier::activated, watch_->notifier.get(),
                     [read = watch_->ends[1], onFirst = std::move(onFirst)] {
                         char byte;
                         [[maybe_unused]] auto got = ::read(read, &byte, 1);
                         onFirst();
                     });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < watchedSignals.size(); ++i)
        ::sigaction(watchedSignals[i], &action, &watch_->earlier[i]);
}

TerminationSignals::~TerminationSignals() {
    if (watch_->ends[0] < 0)
        return;
    for (std::size_t i = 0; i < watchedSignals.size(); ++i)
        ::sigaction(watchedSignals[i], &watch_->earlier[i], nullptr);
    watch_->notifier.reset();
    ::close(watch_->ends[0]);
    ::close(watch_->ends[1]);
    signalWriteEnd = -1;
}

} // namespace vantrel::app
