// fennick-cli: the unattended run for servers and scripts, built on the core
// alone. The same files, failures and messages as "fennick -q"; the window,
// its day, a fresh dump, the mail and the metrics come from the command line.
#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_run.h"
#include "cli/options.h"
#include "cli/output.h"
#include "programs/child_process.h"
#include "run/unattended.h"

namespace {

// Ends the process by `signal` with its default action, now that the stack
// has unwound and the temporary files are gone: a shell, cron or the service
// manager then sees a stopped program, not one that failed.
[[noreturn]] void endBy(int signal) {
    std::fflush(nullptr);
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signal);
    std::_Exit(128 + signal);  // not reached: the default of all three ends us
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace fennick::cli;
    // A reader of our output that has gone must not end the run before its
    // metrics and mail: a write to it fails instead, and is let go. The
    // programs we start get the default back.
    std::signal(SIGPIPE, SIG_IGN);
    // A stream the caller closed (">&-") would be the number the next open
    // file gets, and our lines would land in it: it reads /dev/null instead.
    for (int stream = 0; stream < 3; ++stream) {
        if (::fcntl(stream, F_GETFD) < 0 && errno == EBADF)
            ::open("/dev/null", stream == 0 ? O_RDONLY : O_WRONLY);
    }
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    try {
        const Options options = parseOptions(arguments);
        switch (options.action) {
            case Action::Help:
                std::fputs(usageText().c_str(), stdout);
                return kDone;
            case Action::Version:
                std::printf("fennick-cli %s\n", FENNICK_VERSION);
                return kDone;
            case Action::Run:
                return runCli(options);
            case Action::Import:
                return runImport(options);
        }
    } catch (const fennick::Interrupted& stop) {
        printNote("stopped by signal " + std::to_string(stop.signal()) + " (" +
                  ::strsignal(stop.signal()) + ")");
        endBy(stop.signal());
    } catch (const UsageError& usage) {
        printNote(std::string(usage.what()) + "; see fennick-cli --help");
        return kUsage;
    } catch (const std::exception& failure) {
        printFailureLine(failure.what());
        return kFailed;
    }
    return kFailed;
}
