// fennick-cli: the unattended run for servers and scripts, built on the core
// alone. The same files, failures and messages as "fennick -q"; the window,
// its day, a fresh dump, the mail and the metrics come from the command line.
#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

#include "cli/cli_run.h"
#include "cli/options.h"
#include "run/unattended.h"

int main(int argc, char* argv[]) {
    using namespace fennick::cli;
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
        }
    } catch (const UsageError& usage) {
        std::fprintf(stderr, "fennick-cli: %s; see fennick-cli --help\n", usage.what());
        return kUsage;
    } catch (const std::exception& failure) {
        fennick::printFailure(failure.what());
        return kFailed;
    }
    return kFailed;
}
