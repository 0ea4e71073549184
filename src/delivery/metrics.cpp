#include "delivery/metrics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "common/failure.h"
#include "delivery/text_encoding.h"
#include "files/safe_file.h"

namespace fennick {

namespace {

constexpr std::string_view kSuccess = "fennick_report_success";
constexpr std::string_view kLastRun = "fennick_report_last_run_timestamp_seconds";
constexpr std::string_view kLastSuccess = "fennick_report_last_success_timestamp_seconds";
constexpr std::string_view kJobs = "fennick_report_jobs";
constexpr std::string_view kFailedJobs = "fennick_report_failed_jobs";
constexpr std::string_view kHighlightedJobs = "fennick_report_highlighted_jobs";
constexpr std::string_view kPoliciesNotFound = "fennick_report_policies_not_found";
constexpr std::string_view kDuration = "fennick_report_duration_seconds";
constexpr std::string_view kMailDelivered = "fennick_report_mail_delivered";
constexpr std::string_view kFailing = "fennick_report_failing_streams";
constexpr std::string_view kRecovered = "fennick_report_recovered_jobs";
constexpr std::string_view kRunning = "fennick_report_running_jobs";
constexpr std::string_view kOverdue = "fennick_report_overdue_policies";
constexpr std::string_view kSuspicious = "fennick_report_suspicious_jobs";
constexpr std::string_view kPolicyLastSuccess = "fennick_policy_last_success_timestamp_seconds";
constexpr std::string_view kHistoryJobs = "fennick_history_jobs";
constexpr std::string_view kPolicyFailedNights = "fennick_policy_failed_nights";

// An earlier file larger than this is no file of ours: it holds no success.
constexpr std::size_t kLargestEarlierFile = std::size_t{1} << 20;

// Label values are UTF-8 in the format; a path's other bytes become U+FFFD
// so that the collector does not reject the whole file.
std::string labelValue(std::string_view path) {
    std::string out;
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t length = utf8SequenceLength(path, at);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        for (const char c : path.substr(at, length)) {
            if (c == '\\')
                out += "\\\\";
            else if (c == '"')
                out += "\\\"";
            else if (c == '\n')
                out += "\\n";
            else
                out += c;
        }
        at += length;
    }
    return out;
}

// Milliseconds at most, in the C locale's digits whatever the process's.
std::string number(double value) {
    if (!std::isfinite(value))
        value = 0;
    if (const double rounded = std::round(value * 1000) / 1000; std::isfinite(rounded))
        value = rounded;
    if (value == 0)
        return "0";  // and never "-0"
    // Room for any finite double in plain digits: the largest has 309.
    std::array<char, 400> text;
    const auto result =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return std::string(text.data(), result.ptr);
}

std::string number(std::size_t value) {
    std::array<char, 24> text;
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

void appendGauge(std::string& out, std::string_view name, std::string_view help,
                 const std::string& label, const std::string& value) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += " gauge\n";
    out += name;
    out += "{folder=\"" + label + "\"} " + value + '\n';
}

// The value of `name`'s line for this folder's label, as the text stands.
std::optional<std::string_view> valueOf(std::string_view text, std::string_view name,
                                        const std::string& label) {
    const std::string start = std::string(name) + "{folder=\"" + label + "\"} ";
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(start))
            continue;
        line.remove_prefix(start.size());
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        return line;
    }
    return std::nullopt;
}

// A policy's last success as the file tells it: a policy that is only on
// policy_intervals.txt carries its interval, so that a rule for daily
// policies can leave it out.
struct PolicyLast {
    std::string_view policy;
    double start = 0;
    int intervalDays = 0;  // 0: a daily policy
};

// Each policy once: the daily ones in the list's order, then those of
// policy_intervals.txt; one on both is daily, with the newer success.
std::vector<PolicyLast> policyLasts(const Findings& findings) {
    std::vector<PolicyLast> lasts;
    std::unordered_map<std::string_view, std::size_t> at;
    for (const auto& [policy, start] : findings.dailyLastSuccess) {
        if (at.emplace(policy, lasts.size()).second)
            lasts.push_back({.policy = policy, .start = start});
    }
    for (const IntervalPolicy& interval : findings.intervals) {
        if (!interval.lastSuccess)
            continue;
        const auto [found, added] = at.emplace(interval.policy, lasts.size());
        if (added) {
            lasts.push_back({.policy = interval.policy,
                             .start = *interval.lastSuccess,
                             .intervalDays = interval.intervalDays});
        } else {
            lasts[found->second].start =
                std::max(lasts[found->second].start, *interval.lastSuccess);
        }
    }
    return lasts;
}

// Of the mail's nights, how many each daily policy failed: a count that a
// rule can hold against a threshold, where the last success alone tells
// nothing of a policy that fails every other night. Only when the nights
// were gathered: no line reads as "no data".
void appendFailedNights(std::string& out, const Findings& findings, const std::string& label) {
    if (findings.nights.empty() || findings.dailyNights.empty())
        return;
    const std::size_t count = std::min(kMailNights, findings.nights.size());
    out += "# HELP ";
    out += kPolicyFailedNights;
    out += " Of the last ";
    out += number(count);
    out +=
        " nights (the report's window and the ones before it, a window long each), on how "
        "many a daily policy failed: a stream's newest job of the night failed.\n# TYPE ";
    out += kPolicyFailedNights;
    out += " gauge\n";
    std::unordered_map<std::string_view, bool> said;
    for (const PolicyNights& policy : findings.dailyNights) {
        if (!said.emplace(policy.policy, true).second)
            continue;
        const auto shown = policy.nights.begin() +
                           static_cast<std::ptrdiff_t>(std::min(count, policy.nights.size()));
        const auto failed =
            static_cast<std::size_t>(std::count(policy.nights.begin(), shown, NightState::Failed));
        out += kPolicyFailedNights;
        out += "{folder=\"";
        out += label;
        out += "\",policy=\"";
        out += labelValue(asUtf8(policy.policy));
        out += "\"} ";
        out += number(failed);
        out += '\n';
    }
}

template <typename Number>
std::optional<Number> parsed(std::optional<std::string_view> text) {
    if (!text || text->empty())
        return std::nullopt;
    Number value{};
    const auto result = std::from_chars(text->data(), text->data() + text->size(), value);
    if (result.ec != std::errc() || result.ptr != text->data() + text->size())
        return std::nullopt;
    return value;
}

}  // namespace

std::string metricsText(const RunOutcome& run, const std::optional<EarlierSuccess>& earlier) {
    const std::string label = labelValue(run.folder.string());
    std::optional<EarlierSuccess> last = earlier;
    if (run.success)
        last = EarlierSuccess{run.finished, run.counts};

    std::string out;
    appendGauge(out, kSuccess, "Whether the last report run succeeded (1) or failed (0).", label,
                run.success ? "1" : "0");
    appendGauge(out, kLastRun, "When the last report run ended, in unix seconds.", label,
                number(run.finished));
    // Never a success is 0 rather than no line: an alert on
    // "time() - last success > 26h" then fires for a folder that never
    // produced a page, as it should.
    appendGauge(out, kLastSuccess,
                "When the last successful report run ended, in unix seconds; 0 for never.", label,
                last ? number(last->finished) : "0");
    // The counts are left out without a success: a 0 would read as "nothing
    // failed" on a dashboard, while no line reads as "no data".
    if (last) {
        appendGauge(out, kJobs,
                    "Job rows (jobs of daily policies) on the page of the last successful run.",
                    label, number(last->counts.jobs));
        appendGauge(out, kFailedJobs,
                    "Job rows on the page of the last successful run that ended without their "
                    "backup; jobs still running or queued are not counted.",
                    label, number(last->counts.failed()));
        appendGauge(out, kHighlightedJobs,
                    "Job rows the page of the last successful run highlights: the failed ones "
                    "and those still running or queued.",
                    label, number(last->counts.highlighted));
        appendGauge(out, kPoliciesNotFound,
                    "Daily policies without jobs on the page of the last successful run.", label,
                    number(last->counts.notFound));
    }
    appendGauge(out, kDuration, "How long the last report run took, in seconds.", label,
                number(run.duration));
    // What needs action, from this run only: a failed run has none to tell.
    if (run.success && run.findings != nullptr) {
        const FindingCounts& counts = run.findings->counts;
        appendGauge(out, kFailing,
                    "Streams (policy, client, schedule) whose failed jobs no later job made good.",
                    label, number(counts.failing));
        appendGauge(out, kRecovered, "Failed jobs of the window that a later job made good.", label,
                    number(counts.recovered));
        appendGauge(out, kRunning, "Jobs of the window, of every policy, still running or queued.",
                    label, number(counts.running));
        appendGauge(out, kOverdue,
                    "Policies of policy_intervals.txt without a successful job within their "
                    "interval before the window's end.",
                    label, number(counts.overdue));
        appendGauge(out, kSuspicious,
                    "Successful jobs of the window that saved far less or ran far longer than "
                    "their stream usually does.",
                    label, number(counts.suspicious));
        if (const std::vector<PolicyLast> lasts = policyLasts(*run.findings); !lasts.empty()) {
            out += "# HELP ";
            out += kPolicyLastSuccess;
            out +=
                " When the newest successful job of a daily policy, or of a policy of "
                "policy_intervals.txt (labelled with its interval_days), started, in unix "
                "seconds.\n# TYPE ";
            out += kPolicyLastSuccess;
            out += " gauge\n";
            for (const PolicyLast& last : lasts) {
                out += kPolicyLastSuccess;
                out +=
                    "{folder=\"" + label + "\",policy=\"" + labelValue(asUtf8(last.policy)) + '"';
                if (last.intervalDays > 0)
                    out += ",interval_days=\"" + std::to_string(last.intervalDays) + '"';
                out += "} " + number(last.start) + '\n';
            }
        }
        appendFailedNights(out, *run.findings, label);
    }
    if (run.mailDelivered) {
        appendGauge(out, kMailDelivered,
                    "Whether the last report run's mail was handed to the mail program (1) or "
                    "not (0); 1 when no mail was due.",
                    label, *run.mailDelivered ? "1" : "0");
    }
    // A history that could not be used has no count to tell: no line reads
    // as "no data", where a 0 would read as an emptied history.
    if (run.history != nullptr && run.history->used() && run.history->jobs) {
        appendGauge(out, kHistoryJobs, "Jobs in the job history after the last report run.", label,
                    number(*run.history->jobs));
    }
    return out;
}

std::optional<EarlierSuccess> earlierSuccess(std::string_view text,
                                             const std::filesystem::path& folder) {
    const std::string label = labelValue(folder.string());
    const auto finished = parsed<double>(valueOf(text, kLastSuccess, label));
    const auto jobs = parsed<std::size_t>(valueOf(text, kJobs, label));
    const auto failed = parsed<std::size_t>(valueOf(text, kFailedJobs, label));
    const auto notFound = parsed<std::size_t>(valueOf(text, kPoliciesNotFound, label));
    if (!finished || !std::isfinite(*finished) || *finished <= 0 || !jobs || !failed || !notFound)
        return std::nullopt;
    // A file of an earlier version has no highlighted rows: its failed rows
    // were all of them.
    const std::size_t highlighted =
        parsed<std::size_t>(valueOf(text, kHighlightedJobs, label)).value_or(*failed);
    if (highlighted < *failed)
        return std::nullopt;
    return EarlierSuccess{*finished, {*jobs, highlighted, highlighted - *failed, *notFound}};
}

void writeMetrics(const std::filesystem::path& file, const RunOutcome& run) {
    std::optional<EarlierSuccess> earlier;
    if (!run.success)
        earlier = earlierSuccess(smallFileText(file, kLargestEarlierFile), run.folder);
    replaceFile(file, metricsText(run, earlier), 0644);
}

}  // namespace fennick
