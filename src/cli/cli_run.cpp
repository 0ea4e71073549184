#include "cli/cli_run.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "common/file_names.h"
#include "delivery/mail_message.h"
#include "delivery/metrics.h"
#include "delivery/report_findings.h"
#include "delivery/sendmail.h"
#include "run/dump_refresh.h"
#include "run/run_summary.h"
#include "run/unattended.h"

namespace fennick::cli {

namespace {

// The folder as an absolute path, so the summary names the page wherever the
// command was started, and messages naming the folder read as "fennick -q"'s.
std::filesystem::path folderOf(const std::filesystem::path& dir) {
    std::error_code unknown;
    const auto canonical = std::filesystem::weakly_canonical(dir, unknown);
    return unknown ? std::filesystem::absolute(dir) : canonical;
}

// What the run made, or why it made nothing.
struct Outcome {
    std::optional<ReportFile> report;
    std::string failure;
    // What the mail needs of the folder, read while the lock still keeps
    // another run from rewriting the table.
    std::optional<ReportFindings> findings;
    std::optional<PageForMail> page;
};

bool mailsOnSuccess(const Options& options, const PageCounts& counts) {
    if (options.mailTo.empty())
        return false;
    switch (options.mailWhen) {
        case MailWhen::Always:
            return true;
        case MailWhen::Attention:
            return needsAttention(counts);
        case MailWhen::Failure:
            return false;
    }
    return false;
}

Outcome makeReport(const Options& options, const RunTimes& times,
                   const std::filesystem::path& dir) {
    Outcome outcome;
    try {
        const RunLock lock(dir);
        if (options.dumpCommand)
            refreshDump(dir, DumpCommand{*options.dumpCommand, options.dumpTimeout});
        // The start-up's look at the dump comes first, as in the unattended
        // run, so a dump without a first job fails with the same message.
        firstJobId(dir);
        Window window;
        outcome.report = processHeld(
            lock, dir, times.pickers, [end = times.end] { return end; }, window);
        if (mailsOnSuccess(options, outcome.report->counts)) {
            outcome.findings = readFindings(dir / std::string(kTableFile));
            outcome.page = readPageForMail(outcome.report->page, options.mailMaxBytes);
        }
    } catch (const std::exception& failure) {
        // A table that cannot be read for the mail after the page is on
        // disk is still a failed run: nobody would learn of the page.
        outcome.report.reset();
        outcome.failure = failure.what();
    }
    return outcome;
}

std::string hostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name.data();
}

double unixSeconds(std::chrono::system_clock::time_point at) {
    return std::chrono::duration<double>(at.time_since_epoch()).count();
}

// Writes the metrics file; false (with the reason on standard error) when it
// cannot be written.
bool recordMetrics(const Options& options, const std::filesystem::path& dir, const Outcome& outcome,
                   std::chrono::steady_clock::time_point started) {
    if (!options.metrics)
        return true;
    RunOutcome run;
    run.folder = dir;
    run.success = outcome.report.has_value();
    run.finished = unixSeconds(std::chrono::system_clock::now());
    run.duration =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (outcome.report)
        run.counts = outcome.report->counts;
    try {
        writeMetrics(*options.metrics, run);
        return true;
    } catch (const std::exception& failure) {
        printFailure(failure.what());
        return false;
    }
}

// Hands the run's mail over when one is due; false (with the reason on
// standard error) when the mail system did not take it.
bool sendReportMail(const Options& options, const std::filesystem::path& dir,
                    const Outcome& outcome) {
    const bool due = outcome.report ? outcome.findings.has_value() : !options.mailTo.empty();
    if (!due)
        return true;
    const MailHeaderInfo header{options.mailTo, options.mailFrom, std::chrono::system_clock::now(),
                                hostName()};
    try {
        const std::string message = outcome.report ? reportMessage(header, *outcome.report,
                                                                   *outcome.findings, *outcome.page)
                                                   : failureMessage(header, outcome.failure, dir);
        sendMail(options.sendmail, message);
        return true;
    } catch (const std::exception& failure) {
        printFailure(failure.what());
        return false;
    }
}

}  // namespace

int runCli(const Options& options) {
    const auto started = std::chrono::steady_clock::now();
    // A start after the end is the command line's fault: a usage error.
    const RunTimes times = runTimes(options, localNow());
    const std::filesystem::path dir = folderOf(options.dir);
    const Outcome outcome = makeReport(options, times, dir);
    if (!outcome.report) {
        // Word for word what "fennick -q" prints, so scripts read both alike.
        printFailure(outcome.failure.c_str());
        // The failure must reach people as surely as the page would have;
        // the run's own status stays the one that tells what went wrong.
        recordMetrics(options, dir, outcome, started);
        sendReportMail(options, dir, outcome);
        return kFailed;
    }
    int status = options.check && needsAttention(outcome.report->counts) ? kNeedsAttention : kDone;
    if (!options.quiet) {
        std::printf("%s\n", summaryLine(*outcome.report).c_str());
        // A script that reads the line must not take silence for success.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "fennick-cli: the summary line could not be written\n");
            status = kFailed;
        }
    }
    const bool recorded = recordMetrics(options, dir, outcome, started);
    const bool mailed = sendReportMail(options, dir, outcome);
    if (status != kFailed && (!recorded || !mailed))
        status = kNotDelivered;
    return status;
}

}  // namespace fennick::cli
