// What the morning reader acts on, first: the summary at the top of the
// report mail, as plain text and as HTML, and the mail's subject.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "common/report_time.h"
#include "pipeline/findings.h"
#include "run/history_state.h"
#include "run/report_file.h"

namespace fennick {

// Lists in the summary stop here, with "… and N more".
inline constexpr std::size_t kListedRows = 100;
// A status code's meaning is shown up to this many bytes, then cut with "…":
// one long line of status_codes.txt must not fill every row of a mail.
inline constexpr std::size_t kMeaningMost = 200;

struct ActionSummary {
    const ReportFile& report;
    const Findings& findings;
    // The status codes' meanings; empty: none are shown.
    const std::map<std::string, std::string, std::less<>>& meanings;
    Window window;
    int lookbackDays = 0;
    // Whether the page goes with the mail; when it does not, its size and
    // the mail's limit: a page larger than the limit is said to be over it,
    // a smaller one to make the mail larger than it.
    bool pageAttached = true;
    std::uintmax_t pageSize = 0;
    std::uintmax_t pageLimit = 0;
    // The run's job history, when it keeps one: one it could not read is
    // said, as the last successes and failing since then rest on the dump.
    const HistoryState* history = nullptr;
};

// "Backup Report 09-12-26: 3 still failing, 1 daily policy not found, 2
// policies overdue (27 recovered, 918 jobs)", "... nothing needs action (27
// recovered, 918 jobs)", "... all 918 jobs succeeded", "... no jobs". Parts
// that are zero are left out. Suspicious successes are counted only when
// nothing needs action: "... nothing failed, 3 successes to check (918
// jobs)". UTF-8.
std::string actionSubject(const ActionSummary& summary);

// "Backup Report FAILED: <failure>", the failure shortened with "…" where a
// subject could not hold it. UTF-8.
std::string failureSubject(std::string_view failure);

// Whether a failing stream, a daily policy not found, an overdue policy of
// policy_intervals.txt or a dump whose order cut the page short needs
// somebody. A suspicious success does not: it succeeded.
bool needsAction(const Findings& findings);

// The summary as text for a monospaced reader, UTF-8, LF line ends. A last
// success or job is shown with its age before the window's end; where none
// is known, as none since the oldest known job (or none known). The
// inputs' text is shown as shownUtf8 makes it, so a CR, an LF or an ESC of a
// name cannot break a row; a meaning longer than 200 bytes is cut with "…";
// a table's column is padded to at most 40 characters. Sizes are shown in
// KB, MB, GB or TB of 1024 each, times as "45 s", "48 min", "5 h 12 min".
// When the nights were gathered, "Last 14 nights" follows what needs
// action: a row of each daily policy, then of each stream still failing,
// its nights' signs (nightSign) the oldest first.
std::string summaryText(const ActionSummary& summary);

// The same as a self-contained HTML document: inline styles only, no
// scripts, nothing fetched; blocks that wrap, so that it reads on a phone
// and in a reading pane without scrolling sideways (the nights' grid may
// scroll in its own block on a phone; each of its cells has the night's
// number in data-night and its date and state in title). UTF-8.
std::string summaryHtml(const ActionSummary& summary);

// "DD-MM-YY" of "report_DD-MM-YY.html"; a page named otherwise by its name.
std::string pageDate(const std::filesystem::path& page);

}  // namespace fennick
