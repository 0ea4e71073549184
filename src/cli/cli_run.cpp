#include "cli/cli_run.h"

#include "cli/delivery_files.h"
#include "cli/output.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "common/failure.h"
#include "common/file_names.h"
#include "delivery/action_summary.h"
#include "delivery/history_page.h"
#include "delivery/mail_message.h"
#include "delivery/metrics.h"
#include "delivery/metrics_record.h"
#include "delivery/report_json.h"
#include "delivery/sendmail.h"
#include "files/safe_file.h"
#include "pipeline/findings.h"
#include "pipeline/reporting_window.h"
#include "pipeline/status_codes.h"
#include "run/report_run.h"
#include "run/run_summary.h"

namespace fennick::cli {

namespace {

// The folder as an absolute path, so the summary names the page wherever the
// command was started, and messages naming the folder read as "fennick -q"'s.
std::filesystem::path folderOf(const std::filesystem::path& dir) {
    std::error_code unknown;
    const auto canonical = std::filesystem::weakly_canonical(dir, unknown);
    return unknown ? std::filesystem::absolute(dir) : canonical;
}

// What the run made, or why it made nothing, as the delivery sees it.
struct Outcome {
    Window window;
    const ReportFile* report = nullptr;
    std::string failure;
    // What needs action, read while the lock still keeps another run from
    // replacing the dump; only when something delivers it.
    const Findings* findings = nullptr;
    const HistoryState* history = nullptr;
    const StatusCodes* codes = nullptr;
    std::optional<PageForMail> page;
};

// The findings cost a second look at the dump: only a run that delivers
// them pays for it.
bool wantsFindings(const Options& options) {
    return !options.mailTo.empty() || options.json || options.lookbackGiven || options.historyGiven;
}

bool mailsOnSuccess(const Options& options, const Findings& findings) {
    if (options.mailTo.empty())
        return false;
    switch (options.mailWhen) {
        case MailWhen::Always:
            return true;
        case MailWhen::Attention:
            return needsAction(findings);
        case MailWhen::Failure:
            return false;
    }
    return false;
}

RunRequest requestOf(const Options& options, const RunTimes& times,
                     const std::filesystem::path& dir) {
    RunRequest request{dir, times.pickers, [end = times.end] { return end; }};
    if (options.dumpCommand)
        request.dump = DumpCommand{*options.dumpCommand, options.dumpTimeout};
    // The start-up's look at the dump comes first, as in the unattended
    // run, so a dump without a first job fails with the same message.
    request.readFirstJobId = true;
    if (wantsFindings(options)) {
        request.findingsLookbackDays = options.lookbackDays;
        request.suspicion = options.suspicion;
        if (const auto history = historyFile(options, dir)) {
            request.history = HistoryRequest{};
            request.history->file = *history;
            request.history->keepDays = options.historyDays;
        }
    }
    return request;
}

// The page for the mail is read while the lock keeps it as this run made
// it; a page that cannot be read fails the run, as nobody would see it.
Outcome outcomeOf(const Options& options, const RunResult& result) {
    Outcome outcome;
    outcome.window = result.window;
    outcome.codes = &result.codes;
    if (!result.succeeded()) {
        outcome.failure = result.failureText();
        return outcome;
    }
    outcome.report = &*result.report;
    if (result.history)
        outcome.history = &*result.history;
    if (result.findings) {
        outcome.findings = &*result.findings;
        try {
            if (mailsOnSuccess(options, *outcome.findings))
                outcome.page = readPageForMail(outcome.report->page, options.mailMaxBytes);
        } catch (const std::exception& failure) {
            outcome.report = nullptr;
            outcome.findings = nullptr;
            outcome.failure = failure.what();
        }
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
// cannot be written. `mailed` is whether the mail went out; nullopt when no
// mail is set.
bool recordMetrics(const Options& options, const std::filesystem::path& dir, const Outcome& outcome,
                   std::chrono::steady_clock::time_point started, std::optional<bool> mailed) {
    if (!options.metrics)
        return true;
    RunOutcome run;
    run.folder = dir;
    run.success = outcome.report != nullptr;
    run.finished = unixSeconds(std::chrono::system_clock::now());
    run.duration =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (outcome.report)
        run.counts = outcome.report->counts;
    if (outcome.findings)
        run.findings = &*outcome.findings;
    run.history = outcome.history;
    run.mailDelivered = mailed;
    try {
        writeMetrics(*options.metrics, run);
        if (const std::optional<std::string> note = recordWrittenMetricsInState(*options.metrics))
            printNote(*note);
        return true;
    } catch (const std::exception& failure) {
        printFailureLine(failure.what());
        return false;
    }
}

// Writes the JSON findings; false (with the reason) when it cannot.
bool recordJson(const Options& options, const std::filesystem::path& dir, const Outcome& outcome) {
    if (!options.json)
        return true;
    JsonRun run;
    run.folder = dir;
    run.window = outcome.window;
    run.lookbackDays = options.lookbackDays;
    if (outcome.report && outcome.findings) {
        run.report = &*outcome.report;
        run.findings = &*outcome.findings;
        run.meanings = &outcome.codes->meanings;
    }
    run.history = outcome.history;
    run.error = outcome.failure;
    try {
        replaceFile(*options.json, reportJson(run), 0644);
        return true;
    } catch (const std::exception& failure) {
        printFailureLine(failure.what());
        return false;
    }
}

// Hands the run's mail over when one is due; false (with the reason on
// standard error) when the mail system did not take it, or when mail was
// asked for without anybody to send it to. Nothing when no mail is set.
std::optional<bool> sendReportMail(const Options& options, const std::filesystem::path& dir,
                                   const Outcome& outcome) {
    if (!options.mailProblem.empty()) {
        printNote(options.mailProblem);
        return false;
    }
    if (options.mailTo.empty())
        return std::nullopt;
    const bool due = outcome.report ? outcome.page.has_value() : true;
    if (!due)
        return true;
    const MailHeaderInfo header{options.mailTo, options.mailFrom, std::chrono::system_clock::now(),
                                hostName()};
    try {
        std::string message;
        if (outcome.report) {
            const PageForMail& page = *outcome.page;
            const ActionSummary summary{
                *outcome.report, *outcome.findings,    outcome.codes->meanings,
                outcome.window,  options.lookbackDays, page.bytes.has_value(),
                page.size,       page.limit,           outcome.history};
            message = reportMessage(header, summary, page);
        } else {
            message = failureMessage(header, outcome.failure, dir);
        }
        sendMail(options.sendmail, message);
        return true;
    } catch (const std::exception& failure) {
        printFailureLine(failure.what());
        return false;
    }
}

// The history page beside the report when the run kept a history: whole or
// not at all. Its path; nothing when none is due, and a note (the run then
// exits 3) when it cannot be written. A history that could not be used
// leaves the page of the last run that could.
std::optional<std::filesystem::path> writeHistoryPage(const std::filesystem::path& dir,
                                                      const Outcome& outcome, bool& failed) {
    if (!outcome.report || !outcome.findings || !outcome.history || !outcome.history->used())
        return std::nullopt;
    const std::filesystem::path file = dir / kHistoryPageFile;
    try {
        const HistoryPage page{*outcome.findings, outcome.window, [&dir](std::string_view name) {
                                   std::error_code unknown;
                                   return std::filesystem::is_regular_file(dir / name, unknown);
                               }};
        replaceFile(file, historyPageHtml(page), 0644);
        return file;
    } catch (const std::exception& failure) {
        printFailureLine(failure.what());
        failed = true;
        return std::nullopt;
    }
}

// The page's counts (daily policies), and, when the findings were read,
// what needs action among every policy's window jobs, named as such.
std::string summaryOf(const Outcome& outcome) {
    std::string line = summaryLine(*outcome.report);
    if (outcome.findings) {
        const FindingCounts& counts = outcome.findings->counts;
        line += "; all policies: " + std::to_string(counts.jobs) +
                (counts.jobs == 1 ? " job, " : " jobs, ") + std::to_string(counts.failing) +
                (counts.failing == 1 ? " stream" : " streams") + " still failing, " +
                std::to_string(counts.recovered) + " recovered";
        if (counts.leftOutOfPage > 0) {
            line += "; the dump is not newest first: the page left out " +
                    std::to_string(counts.leftOutOfPage) + " window " +
                    (counts.leftOutOfPage == 1 ? "job" : "jobs");
        }
    }
    return line;
}

// Everything after the report, while the run still holds its folder.
int deliver(const Options& options, const std::filesystem::path& dir, const RunResult& result,
            std::chrono::steady_clock::time_point started) {
    const Outcome outcome = outcomeOf(options, result);
    for (const std::string& warning : outcome.codes->warnings)
        printNote(warning);
    // The report goes out all the same, with the dump's findings alone.
    const bool historyFailed = outcome.history && !outcome.history->used();
    if (historyFailed)
        printNote("the history was not used: " + outcome.history->error);
    if (!outcome.report) {
        // Word for word what "fennick -q" prints, so scripts read both alike.
        printFailureLine(outcome.failure);
        // The failure must reach people as surely as the page would have;
        // the run's own status stays the one that tells what went wrong.
        const std::optional<bool> mailed = sendReportMail(options, dir, outcome);
        recordJson(options, dir, outcome);
        recordMetrics(options, dir, outcome, started, mailed);
        return kFailed;
    }
    // A page that the dump's order cut short contradicts the findings: it
    // needs a look whether or not --check asked.
    const bool cutShort = outcome.findings && outcome.findings->counts.leftOutOfPage > 0;
    int status = cutShort || (options.check && needsAttention(outcome.report->counts))
                     ? kNeedsAttention
                     : kDone;
    bool pageFailed = false;
    const std::optional<std::filesystem::path> historyPage =
        writeHistoryPage(dir, outcome, pageFailed);
    if (!options.quiet) {
        std::string line = summaryOf(outcome);
        if (historyPage)
            line.append("; nights: ").append(oneLine(historyPage->string()));
        // A script that reads the line must not take silence for success;
        // a reader that has gone (`| head`, `| true`) wanted no more of it.
        const Written written = writeWithin(STDOUT_FILENO, line + '\n');
        if (written != Written::All && written != Written::ReaderGone) {
            printNote("the summary line could not be written");
            status = kFailed;
        }
    }
    // The mail first, so that the metrics can tell whether it went out.
    const std::optional<bool> mailed = sendReportMail(options, dir, outcome);
    const bool json = recordJson(options, dir, outcome);
    const bool recorded = recordMetrics(options, dir, outcome, started, mailed);
    if (status != kFailed && (!recorded || !json || mailed == false || historyFailed || pageFailed))
        status = kNotDelivered;
    return status;
}

}  // namespace

int runCli(const Options& options) {
    const auto started = std::chrono::steady_clock::now();
    // A start after the end is the command line's fault: a usage error.
    const RunTimes times = runTimes(options, presentTime(options));
    const std::filesystem::path dir = folderOf(options.dir);
    checkDeliveryFiles(options, dir,
                       std::chrono::year_month_day{floor<std::chrono::days>(times.end)},
                       wantsFindings(options) ? historyFile(options, dir) : std::nullopt);
    // Delivered while the folder is held: the JSON and the metrics must
    // describe the page on disk, which a later run may replace once it is
    // let go.
    int status = kFailed;
    runReport(requestOf(options, times, dir),
              [&](const RunResult& result) { status = deliver(options, dir, result, started); });
    return status;
}

}  // namespace fennick::cli

namespace fennick::cli {

int runImport(const Options& options) {
    const std::filesystem::path dir = folderOf(options.dir);
    const std::filesystem::path history = *historyFile(options, dir);
    checkDeliveryFiles(
        options, dir,
        std::chrono::year_month_day{floor<std::chrono::days>(std::chrono::system_clock::now())},
        history);
    const ImportResult result = importDumps(dir, history, options.importDumps);
    std::string lines;
    for (const ImportedDump& dump : result.dumps) {
        lines += std::to_string(dump.recorded) + " of " + std::to_string(dump.jobs) +
                 (dump.jobs == 1 ? " job" : " jobs") + " recorded from " +
                 oneLine(dump.file.string());
        if (dump.skipped > 0) {
            lines += " (" + std::to_string(dump.skipped) +
                     (dump.skipped == 1 ? " line" : " lines") + " skipped)";
        }
        lines += '\n';
    }
    lines += oneLine(history.string()) + ": " + std::to_string(result.jobs) +
             (result.jobs == 1 ? " job\n" : " jobs\n");
    if (!options.quiet)
        writeWithin(STDOUT_FILENO, lines);
    return kDone;
}

}  // namespace fennick::cli
