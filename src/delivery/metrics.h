// The metrics file that node_exporter's textfile collector reads: the
// Prometheus text format, one gauge per fact, labelled with the folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "pipeline/findings.h"
#include "report/report_page.h"
#include "run/history_state.h"

namespace fennick {

struct RunOutcome {
    std::filesystem::path folder;  // absolute; the `folder` label
    bool success = false;
    double finished = 0;  // unix seconds, when the run ended
    double duration = 0;  // seconds
    PageCounts counts;    // meaningful only when success
    // Whether the mail program took the run's mail; true when none was due.
    // Nothing when the run sends no mail, and then the file has no such line.
    std::optional<bool> mailDelivered;
    // What needs action, when the run read it: its counts, the last success
    // of each daily policy and of each policy of policy_intervals.txt, and
    // (when the nights were gathered) how many of the mail's 14 nights each
    // daily policy failed go into the file.
    const Findings* findings = nullptr;
    // The run's job history, when it keeps one: its rows go into the file
    // when it could be used.
    const HistoryState* history = nullptr;
};

// The last successful run, kept through the failed runs after it.
struct EarlierSuccess {
    double finished = 0;
    PageCounts counts;

    bool operator==(const EarlierSuccess&) const = default;
};

// The file's text for `run`. A failed run reports `earlier`'s time and
// counts; without one the success time is 0 and the counts are left out.
std::string metricsText(const RunOutcome& run, const std::optional<EarlierSuccess>& earlier);

// The last success that `text` (an earlier metricsText) records for
// `folder`; nothing when it records none or cannot be read.
std::optional<EarlierSuccess> earlierSuccess(std::string_view text,
                                             const std::filesystem::path& folder);

// Replaces `file` whole with the metrics of `run`, keeping the last success
// from the file's earlier text. The new text goes to a hidden file of its own
// beside it (so writers at the same time never share one), reaches the disk
// and is renamed onto it with mode 0644 whatever the umask,
// for node_exporter runs as another user. A symbolic link is followed to its
// end (which need not exist yet): the file it leads to is replaced and the
// link stays. Only a regular file is ever read or replaced; anything else
// there (a device, a FIFO, a socket, a folder) is left untouched and is a
// failure. A failure is "cannot create file" naming the file, and removes
// the hidden file.
void writeMetrics(const std::filesystem::path& file, const RunOutcome& run);

}  // namespace fennick
