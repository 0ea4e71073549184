// fennick-cli: the unattended run for servers and scripts, built on the core
// alone. The same files, failures and messages as "fennick -q"; the window,
// its day and a check of the page's contents come from the command line.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "run/run_summary.h"
#include "run/unattended.h"

namespace {

// Exit statuses; 1 is the unattended run's for a failed run.
constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kNeedsAttention = 4;

// The folder as an absolute path, so the summary names the page wherever the
// command was started, and messages naming the folder read as "fennick -q"'s.
std::filesystem::path folderOf(const std::filesystem::path& dir) {
    std::error_code unknown;
    const auto canonical = std::filesystem::weakly_canonical(dir, unknown);
    return unknown ? std::filesystem::absolute(dir) : canonical;
}

int run(const fennick::cli::Options& options) {
    const auto times = fennick::cli::runTimes(options, fennick::localNow());
    const std::filesystem::path dir = folderOf(options.dir);
    // The start-up's look at the dump comes first, as in the unattended run,
    // so a dump without a first job fails with the same message.
    fennick::firstJobId(dir);
    fennick::Window window;
    const fennick::ReportFile report = fennick::process(
        dir, times.pickers, [end = times.end] { return end; }, window);
    if (!options.quiet) {
        std::printf("%s\n", fennick::summaryLine(report).c_str());
        // A script that reads the line must not take silence for success.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "fennick-cli: the summary line could not be written\n");
            return kFailed;
        }
    }
    return options.check && fennick::needsAttention(report.counts) ? kNeedsAttention : kDone;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    fennick::cli::Options options;
    try {
        options = fennick::cli::parseOptions(arguments);
        switch (options.action) {
            case fennick::cli::Action::Help:
                std::fputs(fennick::cli::usageText().c_str(), stdout);
                return kDone;
            case fennick::cli::Action::Version:
                std::printf("fennick-cli %s\n", FENNICK_VERSION);
                return kDone;
            case fennick::cli::Action::Run:
                return run(options);
        }
    } catch (const fennick::cli::UsageError& usage) {
        std::fprintf(stderr, "fennick-cli: %s; see fennick-cli --help\n", usage.what());
        return kUsage;
    } catch (const std::exception& failure) {
        // Word for word what "fennick -q" prints, so scripts read both alike.
        fennick::printFailure(failure.what());
        return kFailed;
    }
    return kFailed;
}
