#include "delivery/action_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "delivery/night_cells.h"

namespace fennick {
namespace {

const std::map<std::string, std::string, std::less<>> kMeanings{
    {"150", "termination requested by administrator"}};

Findings findingsWith(FindingCounts counts) {
    Findings findings;
    findings.counts = counts;
    return findings;
}

TEST(ActionSubject, LeavesOutWhatIsZeroAndPutsWhatNeedsActionFirst) {
    struct Case {
        FindingCounts counts;
        const char* subject;
    };
    // jobs, failed, recovered, running, partial, failing, notFound, overdue
    const Case cases[] = {
        {{918, 57, 27, 0, 0, 3, 1, 0},
         "Backup Report 09-12-26: 3 still failing, 1 daily policy not found (27 recovered, 918 "
         "jobs)"},
        {{918, 3, 0, 0, 0, 3, 0, 0}, "Backup Report 09-12-26: 3 still failing (918 jobs)"},
        {{918, 0, 0, 0, 0, 0, 2, 0},
         "Backup Report 09-12-26: 2 daily policies not found (918 jobs)"},
        {{918, 27, 27, 0, 0, 0, 0, 0},
         "Backup Report 09-12-26: nothing needs action (27 recovered, 918 jobs)"},
        // A job still running is not yet a success.
        {{918, 0, 0, 2, 0, 0, 0, 0}, "Backup Report 09-12-26: nothing needs action (918 jobs)"},
        {{918, 0, 0, 0, 5, 0, 0, 0}, "Backup Report 09-12-26: all 918 jobs succeeded"},
        {{1, 0, 0, 0, 0, 0, 0, 0}, "Backup Report 09-12-26: 1 job succeeded"},
        {{0, 0, 0, 0, 0, 0, 0, 0}, "Backup Report 09-12-26: no jobs"},
        // A page that the dump's order cut short needs a look as well.
        {{.jobs = 0, .notFound = 2, .leftOutOfPage = 3},
         "Backup Report 09-12-26: 2 daily policies not found, dump not newest first (0 jobs)"},
        {{.jobs = 4, .leftOutOfPage = 1}, "Backup Report 09-12-26: dump not newest first (4 jobs)"},
        // An overdue policy is counted as a daily policy not found is.
        {{.jobs = 918, .failed = 57, .recovered = 27, .failing = 3, .notFound = 1, .overdue = 2},
         "Backup Report 09-12-26: 3 still failing, 1 daily policy not found, 2 policies overdue "
         "(27 recovered, 918 jobs)"},
        // Successes to check are said only when nothing else needs action.
        {{.jobs = 918, .overdue = 1, .suspicious = 3},
         "Backup Report 09-12-26: 1 policy overdue (918 jobs)"},
        {{.jobs = 918, .suspicious = 3},
         "Backup Report 09-12-26: nothing failed, 3 successes to check (918 jobs)"},
        {{.jobs = 918, .running = 2, .suspicious = 1},
         "Backup Report 09-12-26: nothing failed, 1 success to check (918 jobs)"},
        {{.jobs = 918, .failed = 27, .recovered = 27, .suspicious = 1},
         "Backup Report 09-12-26: nothing needs action, 1 success to check (27 recovered, 918 "
         "jobs)"},
    };
    const ReportFile report{"/srv/fennick/report_09-12-26.html", {}};
    for (const Case& c : cases) {
        const Findings findings = findingsWith(c.counts);
        const ActionSummary summary{report, findings, kMeanings, {}, 7};
        EXPECT_EQ(actionSubject(summary), c.subject);
    }
}

TEST(SummaryText, ADumpNotNewestFirstIsSaidBeforeTheListsInBothParts) {
    const ReportFile report{"/srv/fennick/report_09-12-26.html", {}};
    const std::string said = "The dump is not newest first: the page left out 3 window jobs";
    for (const std::size_t leftOut : {0, 3}) {
        SCOPED_TRACE(leftOut);
        const Findings findings = findingsWith({.jobs = 5, .leftOutOfPage = leftOut});
        const ActionSummary summary{report, findings, kMeanings, {}, 7};
        EXPECT_EQ(needsAction(findings), leftOut > 0);
        const std::string text = summaryText(summary);
        const std::string html = summaryHtml(summary);
        if (leftOut == 0) {
            EXPECT_EQ(text.find("not newest first"), std::string::npos);
            EXPECT_EQ(html.find("not newest first"), std::string::npos);
            continue;
        }
        ASSERT_NE(text.find(said), std::string::npos) << text;
        EXPECT_LT(text.find(said), text.find("Needs action"));
        ASSERT_NE(html.find(said), std::string::npos);
        EXPECT_LT(html.find(said), html.find("Needs action"));
    }
}

// The window's jobs are every policy's, the page's the daily policies'
// alone: the counts' line says how the two meet, in both parts.
TEST(SummaryText, TheCountsLineSaysHowManyOfTheWindowsJobsThePageShows) {
    struct Case {
        FindingCounts counts;
        std::size_t pageJobs;
        const char* line;
    };
    const Case cases[] = {
        {{913, 56, 27, 1, 12, 29, 0, 0},
         474,
         "913 jobs, 474 of them of daily policies (on the page), from 11/30/2026 06:06:40 to "
         "12/01/2026 06:06:40: 56 failed, 27 of them recovered; 29 streams still failing; 0 daily "
         "policies not found; 1 still running; 12 partly succeeded."},
        {{.jobs = 1, .notFound = 1, .skippedLines = 2},
         0,
         "1 job, 0 of them of daily policies (on the page), from 11/30/2026 06:06:40 to 12/01/2026 "
         "06:06:40: 0 failed, 0 of them recovered; 0 streams still failing; 1 daily policy not "
         "found; 0 still running; 0 partly succeeded. 2 lines of the dump outside the window "
         "could not be read and were skipped."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const ReportFile report{"/srv/fennick/report_01-12-26.html", {.jobs = c.pageJobs}};
        const Findings findings = findingsWith(c.counts);
        const ActionSummary summary{report, findings, kMeanings, {1795990000, 1796076400}, 7};
        // The line after the subject and a blank one.
        const std::string text = summaryText(summary);
        const std::size_t start = text.find("\n\n") + 2;
        EXPECT_EQ(text.substr(start, text.find('\n', start) - start), c.line);
        EXPECT_NE(summaryHtml(summary).find(std::string(">") + c.line + "</p>"), std::string::npos);
    }
}

// A dump's start field may hold any number; one no clock can show is
// shown as the number it is.
TEST(SummaryText, AStartNoClockCanShowIsShownAsItsNumber) {
    const ReportFile report{"/srv/fennick/report_09-12-26.html", {}};
    for (const double start : {1e300, -1e300, 1e19}) {
        SCOPED_TRACE(start);
        Findings findings = findingsWith({1, 1, 0, 0, 0, 1, 0, 0});
        findings.failing.push_back({"PolA", "client1", "Daily", true, "13", "7", start, 1, start,
                                    start, 1, NightStates{}});
        const ActionSummary summary{report, findings, kMeanings, {}, 7};
        char expected[32];
        std::snprintf(expected, sizeof expected, "%.6g s", start);
        EXPECT_NE(summaryText(summary).find(expected), std::string::npos) << summaryText(summary);
    }
}

TEST(FailureSubject, ShortensALongFailureWithAnEllipsisOnACharacterBoundary) {
    const std::string shortText = "File not found: policy_list.txt";
    EXPECT_EQ(failureSubject(shortText), "Backup Report FAILED: " + shortText);
    // 199 letters and a two-byte letter across the cut.
    const std::string longText = std::string(199, 'X') + "\xC3\xA9" + std::string(5000, 'Y');
    EXPECT_EQ(failureSubject(longText),
              "Backup Report FAILED: " + std::string(199, 'X') + "\xE2\x80\xA6");
    // 8-bit text that is not UTF-8 is read as windows-1252.
    EXPECT_EQ(failureSubject("Pol\xE9"), "Backup Report FAILED: Pol\xC3\xA9");
}

// The reader's order: what needs action, then what is missing, then what
// fixed itself; every row names its policy; long lists end in a count.
TEST(SummaryText, ListsFailingStreamsBeforeRecoveredJobsAndCapsLongLists) {
    Findings findings;
    for (int i = 0; i < 105; ++i) {
        findings.failing.push_back({"PolA", "host" + std::to_string(i), "Daily", i == 0, "150",
                                    std::to_string(1000 + i), 1796000000.0 + i, 2, std::nullopt,
                                    1795990000.0, 2, NightStates{}});
    }
    findings.notFound.push_back({"PolC", 1795900000.0, std::nullopt});
    findings.recovered.push_back({"PolB", "hostB", "Daily", "900", "58", 1796000100.0, "901"});
    findings.counts = {.jobs = 400,
                       .failed = 106,
                       .recovered = 1,
                       .running = 2,
                       .failing = 105,
                       .notFound = 1,
                       .skippedLines = 3};
    const ReportFile report{"/srv/fennick/report_09-12-26.html", {}};
    const ActionSummary summary{report, findings, kMeanings, {1795990000, 1796076400}, 7};
    const std::string text = summaryText(summary);

    const auto at = [&text](const std::string& what) {
        const auto found = text.find(what);
        EXPECT_NE(found, std::string::npos) << what;
        return found;
    };
    EXPECT_LT(at("Needs action: 105 streams still failing"), at("Daily policies not found: 1"));
    EXPECT_LT(at("Daily policies not found: 1"), at("Recovered: 1 failed job"));
    EXPECT_NE(text.find("150 (termination requested by administrator)"), std::string::npos);
    // No success among the known jobs, and nothing known of how far back
    // they reach.
    EXPECT_NE(text.find("none known"), std::string::npos);
    EXPECT_EQ(text.find("none in"), std::string::npos);
    EXPECT_NE(text.find("\xE2\x80\xA6 and 5 more"), std::string::npos);
    EXPECT_EQ(text.find("host100"), std::string::npos);  // past the first 100
    EXPECT_NE(text.find("3 lines of the dump outside the window could not be read"),
              std::string::npos);
    EXPECT_NE(text.find("The page (attached): /srv/fennick/report_09-12-26.html"),
              std::string::npos);
    // Every failing row names its policy, not only the first of a group.
    std::size_t rows = 0;
    for (std::size_t from = 0; (from = text.find("\n  PolA", from)) != std::string::npos; ++from)
        ++rows;
    EXPECT_EQ(rows, 100u);

    // The HTML holds the same rows, in the same order, and nothing to run.
    const std::string html = summaryHtml(summary);
    EXPECT_LT(html.find("class=\"failing\""), html.find("class=\"not-found\""));
    EXPECT_LT(html.find("class=\"not-found\""), html.find("class=\"recovered\""));
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("http"), std::string::npos);
}

// One stream of each kind, with the status "2" throughout.
Findings oneOfEach() {
    Findings findings;
    findings.failing.push_back({"PolA", "hostA", "Daily", true, "2", "1010", 1796000000.0, 1,
                                std::nullopt, 1796000000.0, 1, NightStates{}});
    findings.notFound.push_back({"PolC", 1795900000.0, std::nullopt});
    findings.recovered.push_back({"PolB", "hostB", "Daily", "1008", "2", 1796000100.0, "1009"});
    findings.intervals.push_back(
        {"PolI", 7, 1795300000.0, 1795300000.0, IntervalPolicy::Verdict::Overdue});
    findings.suspicious.push_back({"PolS",
                                   "hostS",
                                   "Full",
                                   "1012",
                                   1796000200.0,
                                   {0, 60},
                                   {2097152, 600},
                                   {Suspicion::NoData, Suspicion::Small}});
    findings.counts = {.jobs = 4,
                       .failed = 2,
                       .recovered = 1,
                       .failing = 1,
                       .notFound = 1,
                       .overdue = 1,
                       .suspicious = 1};
    return findings;
}

// Whatever byte of an input it was, what the reader gets is a visible
// character and the lines the summary meant to write.
TEST(SummaryText, ControlBytesOfEveryInputAreShownAsTheirPictures) {
    using Meanings = std::map<std::string, std::string, std::less<>>;
    const std::vector<std::pair<const char*, std::function<std::string&(Findings&, Meanings&)>>>
        fields{
            {"policy", [](Findings& f, Meanings&) -> std::string& { return f.failing[0].policy; }},
            {"client", [](Findings& f, Meanings&) -> std::string& { return f.failing[0].client; }},
            {"schedule",
             [](Findings& f, Meanings&) -> std::string& { return f.failing[0].schedule; }},
            {"status", [](Findings& f, Meanings&) -> std::string& { return f.failing[0].status; }},
            {"job id", [](Findings& f, Meanings&) -> std::string& { return f.failing[0].jobId; }},
            {"missing policy",
             [](Findings& f, Meanings&) -> std::string& { return f.notFound[0].policy; }},
            {"recovering job",
             [](Findings& f, Meanings&) -> std::string& { return f.recovered[0].recoveredBy; }},
            {"overdue policy",
             [](Findings& f, Meanings&) -> std::string& { return f.intervals[0].policy; }},
            {"suspicious client",
             [](Findings& f, Meanings&) -> std::string& { return f.suspicious[0].client; }},
            {"suspicious job id",
             [](Findings& f, Meanings&) -> std::string& { return f.suspicious[0].jobId; }},
            {"meaning", [](Findings&, Meanings& m) -> std::string& { return m["2"]; }},
        };
    // The byte and the picture that stands for it (U+240D, U+240A, ...); a
    // C1 control of UTF-8 text, which has none, as U+FFFD.
    const std::vector<std::pair<std::string, std::string>> controls{
        {"\r", "\xE2\x90\x8D"},      {"\n", "\xE2\x90\x8A"}, {std::string(1, '\0'), "\xE2\x90\x80"},
        {"\x1B", "\xE2\x90\x9B"},    {"\t", "\xE2\x90\x89"}, {"\x7F", "\xE2\x90\xA1"},
        {"\xC2\x9B", "\xEF\xBF\xBD"}};
    const ReportFile report{"/srv/fennick/report_09-12-26.html", {}};
    const auto lineCount = [](const std::string& text) {
        return std::count(text.begin(), text.end(), '\n');
    };
    const auto rawControl = [](const std::string& text) {
        return std::find_if(text.begin(), text.end(), [](char c) {
                   const auto byte = static_cast<unsigned char>(c);
                   return (byte < 0x20 && byte != '\n') || byte == 0x7F;
               }) != text.end();
    };
    for (const auto& [name, field] : fields) {
        for (const auto& [control, picture] : controls) {
            SCOPED_TRACE(std::string(name) + " with byte " +
                         std::to_string(static_cast<unsigned char>(control.back())));
            Findings findings = oneOfEach();
            Meanings meanings{{"2", "file read failed"}};
            const std::string plainText =
                summaryText({report, findings, meanings, {1795990000, 1796076400}, 7});
            std::string& value = field(findings, meanings);
            value += control + "x";
            // A status with its control byte still finds its meaning.
            if (std::string(name) == "status")
                meanings[value] = "file read failed";
            const ActionSummary summary{report, findings, meanings, {1795990000, 1796076400}, 7};
            const std::string text = summaryText(summary);
            const std::string html = summaryHtml(summary);
            EXPECT_FALSE(rawControl(text));
            EXPECT_FALSE(rawControl(html));
            EXPECT_EQ(lineCount(text), lineCount(plainText));
            EXPECT_EQ(text.find(control + "x"), std::string::npos);
            EXPECT_EQ(html.find(control + "x"), std::string::npos);
            EXPECT_NE(text.find(picture + "x"), std::string::npos);
            EXPECT_NE(html.find(picture + "x"), std::string::npos);
        }
    }
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

// A meaning is shown once per row: past 200 bytes it is cut where a
// character ends, an empty one shows the status alone.
TEST(SummaryText, AMeaningIsCutPast200BytesBetweenCharactersAndAnEmptyOneShowsNothing) {
    const std::string ellipsis = "\xE2\x80\xA6";
    struct Case {
        std::string meaning;
        std::string status;  // as the rows show it
    };
    const Case cases[] = {
        {std::string(1 << 20, 'x'), "2 (" + std::string(200, 'x') + ellipsis + ")"},
        {std::string(200, 'x'), "2 (" + std::string(200, 'x') + ")"},
        // A two-byte letter across the cut goes whole.
        {std::string(199, 'x') + "\xC3\xA9yz", "2 (" + std::string(199, 'x') + ellipsis + ")"},
        // windows-1252: every byte becomes two of UTF-8.
        {std::string(150, '\xE9'), "2 (" + repeated("\xC3\xA9", 100) + ellipsis + ")"},
        // Pictures of three bytes each: 66 of them fit.
        {std::string(100, '\r'), "2 (" + repeated("\xE2\x90\x8D", 66) + ellipsis + ")"},
        {"", "2"},
    };
    const ReportFile report{"/srv/fennick/report_09-12-26.html", {}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.meaning.substr(0, 20) + " of " + std::to_string(c.meaning.size()));
        Findings findings = oneOfEach();
        // A hundred rows that show the same meaning.
        for (int i = 1; i < 100; ++i) {
            findings.failing.push_back({"PolA", "host" + std::to_string(i), "Daily", true, "2",
                                        "1010", 1796000000.0, 1, std::nullopt, 1796000000.0, 1,
                                        NightStates{}});
        }
        findings.counts.failing = findings.failing.size();
        const std::map<std::string, std::string, std::less<>> meanings{{"2", c.meaning}};
        const ActionSummary summary{report, findings, meanings, {1795990000, 1796076400}, 7};
        const std::string text = summaryText(summary);
        const std::string html = summaryHtml(summary);
        EXPECT_NE(text.find("  " + c.status + "  "), std::string::npos);
        EXPECT_NE(html.find("Status:</span> " + c.status + " &middot;"), std::string::npos);
        EXPECT_EQ(text.find("()"), std::string::npos);
        EXPECT_EQ(html.find("()"), std::string::npos);
        // A hundred rows (and the recovered one) with a cut meaning each in
        // the text and the HTML, never a hundred copies of the whole
        // meaning: measured against the same summary without meanings,
        // whatever else a row holds.
        const std::map<std::string, std::string, std::less<>> none;
        const ActionSummary bare{report, findings, none, {1795990000, 1796076400}, 7};
        const std::size_t bareSize = summaryText(bare).size() + summaryHtml(bare).size();
        EXPECT_LT(text.size() + html.size(), bareSize + 101 * 2 * 250);
    }
}

// The status column stays narrow for the rows beside a long meaning, and so
// does any other column beside a long name.
TEST(SummaryText, AColumnIsPaddedToAtMost40Characters) {
    Findings findings = oneOfEach();
    findings.failing[0].policy = std::string(300, 'P');
    findings.failing.push_back({"PolD", "hostD", "Daily", true, "3", "1011", 1796000000.0, 1,
                                std::nullopt, std::nullopt, 0, NightStates{}});
    findings.counts.failing = 2;
    const std::map<std::string, std::string, std::less<>> meanings{{"2", std::string(150, 'm')}};
    const ReportFile report{"/srv/fennick/report_09-12-26.html", {}};
    const std::string text = summaryText({report, findings, meanings, {1795990000, 1796076400}, 7});
    const auto lineWith = [&text](const std::string& what) {
        const std::size_t at = text.find(what);
        EXPECT_NE(at, std::string::npos) << what;
        const std::size_t start = text.rfind('\n', at) + 1;
        return text.substr(start, text.find('\n', at) - start);
    };
    const std::string longRow = lineWith("hostA");
    const std::string shortRow = lineWith("hostD");
    // The long cell pushes its own row along, two spaces before the next.
    EXPECT_EQ(longRow.find("hostA"), 2 + 300 + 2u);
    // The other rows are padded as if it were 40 characters wide.
    EXPECT_EQ(shortRow.find("hostD"), 2 + 40 + 2u);
    const std::size_t shortStatus = shortRow.find("  3  ") + 2;
    EXPECT_EQ(shortRow.find("1  ", shortStatus + 1), shortStatus + 40 + 2);
}

// Whether a text row holds these cells side by side, padded apart.
bool hasRow(const std::string& text, const std::vector<std::string>& cells) {
    std::string pattern = "\n";
    for (const std::string& cell : cells)
        pattern.append(pattern.size() == 1 ? "  " : " {2,}").append(cell);
    return std::regex_search(text, std::regex(pattern.append("\n")));
}

// A row's times say only what the known jobs hold, aged against the window's
// end; a history not read is said under "Needs action", text and HTML.
TEST(SummaryText, TimesRestOnTheKnownJobsAndAHistoryNotReadIsSaid) {
    const double end = 1796076400;  // shown as 12/01/2026 06:06:40
    const HistoryState used{.file = "h.db", .jobs = 9, .recorded = 1, .error = ""};
    HistoryState unread = used;
    unread.error = "h.db: <locked>";
    struct Case {
        std::optional<double> last, knownSince, failingSince;
        const HistoryState* history;
        const char *lastText, *sinceText;
    };
    const Case cases[] = {
        {std::nullopt, 1795300000.0, 1795300000.0, nullptr, "none since 11/22/2026 06:26:40",
         "11/22/2026 06:26:40"},
        {std::nullopt, std::nullopt, std::nullopt, &unread, "none known", "unknown"},
        {end - 86399, {}, {}, &used, "11/30/2026 06:06:41, less than a day before", "unknown"},
        {end - 86400, {}, {}, &unread, "11/30/2026 06:06:40, 1 day before", "unknown"},
        {end - 9 * 86400 - 5, {}, {}, nullptr, "11/22/2026 06:06:35, 9 days before", "unknown"},
        {end + 60, {}, {}, nullptr, "12/01/2026 06:07:40, after the window's end", "unknown"},
    };
    const ReportFile report{"/srv/fennick/report_01-12-26.html", {}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lastText);
        Findings findings = findingsWith({2, 1, 0, 0, 0, 1, 1, 0});
        findings.failing.push_back({"PolA", "hostA", "Daily", true, "2", "1010", end - 600, 1,
                                    c.last, c.failingSince, 3, NightStates{}});
        findings.notFound.push_back({"PolC", c.last, c.last});
        findings.knownSince = c.knownSince;
        ActionSummary summary{report, findings, kMeanings, {end - 86400, end}, 7};
        summary.history = c.history;
        const std::string text = summaryText(summary), html = summaryHtml(summary);
        EXPECT_TRUE(hasRow(text, {"PolA", "hostA", "Daily", "2", "1", c.lastText, c.sinceText, "3",
                                  "1010 at 12/01/2026 05:56:40"}))
            << text;
        EXPECT_TRUE(hasRow(text, {"PolC", c.lastText, c.lastText})) << text;
        const std::string field = ":</span> ",
                          next = " &middot; <span style=\"white-space:nowrap\">";
        EXPECT_NE(html.find("Last success" + field + c.lastText + next + "Failing since" + field +
                            c.sinceText + next + "Failed since last success" + field + "3"),
                  std::string::npos)
            << html;

        const bool said = c.history == &unread;
        const std::string tail = ". Last successes and failing since rest on today's dump alone.";
        EXPECT_EQ(text.find("still failing\nHistory not read: h.db: <locked>" + tail +
                            "\n  Policy") != std::string::npos,
                  said);
        EXPECT_EQ(html.find("still failing</h2>\n<p class=\"caveat\"") != std::string::npos, said);
        EXPECT_EQ(html.find(">History not read: h.db: &lt;locked&gt;" + tail + "</p>") !=
                      std::string::npos,
                  said);
    }
    // Also with no stream failing: the missing policies' times rest on it too.
    const Findings quiet = findingsWith({1, 0, 0, 0, 0, 0, 0, 0});
    ActionSummary summary{report, quiet, kMeanings, {end - 86400, end}, 7};
    summary.history = &unread;
    EXPECT_NE(summaryText(summary).find("still failing.\nHistory not read: h.db: <locked>. "),
              std::string::npos);
}

// The policies of policy_intervals.txt: the overdue ones are listed under
// "Needs action" with their times as the not-found ones are, those the known
// jobs cannot judge yet only counted, in a line of their own.
TEST(SummaryText, OverduePoliciesAreListedAndThoseNotYetJudgedCounted) {
    using Verdict = IntervalPolicy::Verdict;
    const double end = 1796076400;  // shown as 12/01/2026 06:06:40
    struct Case {
        const char* name;
        std::vector<IntervalPolicy> intervals;
        std::optional<double> knownSince;
        std::vector<std::vector<std::string>> rows;  // text rows of the overdue list
        const char* heading;                         // nullptr: no list at all
        const char* notJudged;                       // nullptr: no such line
    };
    const Case cases[] = {
        {"two overdue, one kept, two not judged",
         {{"PolW", 7, end - 9 * 86400 - 5, end - 86399, Verdict::Overdue},
          {"PolD", 1, end - 600, end - 600, Verdict::Kept},
          {"PolM", 1, std::nullopt, std::nullopt, Verdict::Overdue},
          {"PolU", 30, std::nullopt, end - 3600, Verdict::Unknown},
          {"PolV", 90, std::nullopt, std::nullopt, Verdict::Unknown}},
         1795300000.0,
         {{"PolW", "every 7 days", "11/22/2026 06:06:35, 9 days before",
           "11/30/2026 06:06:41, less than a day before"},
          {"PolM", "every day", "none since 11/22/2026 06:26:40",
           "none since 11/22/2026 06:26:40"}},
         "Overdue policies: 2",
         "Not yet judged (the known jobs begin 11/22/2026 06:26:40): 2 policies of "
         "policy_intervals.txt."},
        {"none overdue, and no jobs known",
         {{"PolU", 30, std::nullopt, std::nullopt, Verdict::Unknown}},
         std::nullopt,
         {},
         "No policy of policy_intervals.txt is overdue",
         "Not yet judged (no jobs are known): 1 policy of policy_intervals.txt."},
        {"no policy_intervals.txt", {}, 1795300000.0, {}, nullptr, nullptr},
    };
    const ReportFile report{"/srv/fennick/report_01-12-26.html", {}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Findings findings = findingsWith({.jobs = 3, .notFound = 1, .overdue = c.rows.size()});
        findings.notFound.push_back({"PolC", std::nullopt, std::nullopt});
        findings.intervals = c.intervals;
        findings.knownSince = c.knownSince;
        const ActionSummary summary{report, findings, kMeanings, {end - 86400, end}, 7};
        // An overdue policy alone needs action; one not yet judged does not.
        Findings alone = findings;
        alone.counts.notFound = 0;
        EXPECT_EQ(needsAction(alone), !c.rows.empty());
        const std::string text = summaryText(summary), html = summaryHtml(summary);
        for (const auto& row : c.rows) {
            EXPECT_TRUE(hasRow(text, row)) << text;
            EXPECT_NE(html.find(">" + row[0] +
                                "</div><div style=\"font-size:14px;color:#333\">"
                                "<span style=\"white-space:nowrap\">Interval:</span> " +
                                row[1]),
                      std::string::npos)
                << html;
        }
        EXPECT_EQ(text.find("PolD"), std::string::npos);  // kept: nothing to say
        EXPECT_EQ(text.find("PolU"), std::string::npos);  // counted, not named
        if (c.heading == nullptr) {
            EXPECT_EQ(text.find("policy_intervals"), std::string::npos);
            EXPECT_EQ(html.find("policy_intervals"), std::string::npos);
            continue;
        }
        const auto at = [&text](const std::string& what) {
            const auto found = text.find(what);
            EXPECT_NE(found, std::string::npos) << what << '\n' << text;
            return found;
        };
        EXPECT_LT(at("Daily policies not found: 1"), at(std::string("\n") + c.heading));
        EXPECT_LT(at(c.heading), at(std::string("\n") + c.notJudged + "\n"));
        EXPECT_LT(at(c.notJudged), at("Still running or queued"));
        // The HTML leaves out a list that holds none, as it does the
        // not-found one, but says what cannot be judged.
        EXPECT_EQ(html.find(std::string(">") + c.heading + "</h2>") != std::string::npos,
                  !c.rows.empty());
        EXPECT_NE(html.find(std::string(">") + c.notJudged + "</p>"), std::string::npos) << html;
        EXPECT_EQ(html.find("class=\"overdue\"") != std::string::npos, !c.rows.empty());
    }
}

// A suspicious success is listed with its figures in units a reader counts
// in; it needs a look, not action.
TEST(SummaryText, SuccessesToCheckShowTheirFiguresAfterWhatNeedsAction) {
    using enum Suspicion;
    const double end = 1796076400;
    struct Case {
        JobSize size, usual;
        std::vector<Suspicion> reasons;
        const char* check;
    };
    const Case cases[] = {
        // Nothing written is also far less: said once.
        {{0, 600}, {13002342, 620}, {NoData, Small}, "wrote 0 KB; usually 12.4 GB"},
        {{512000, 900}, {52428800, 880}, {Small}, "wrote 500.0 MB; usually 50.0 GB"},
        // Rounded as shown: 1023.97 MB is 1.0 GB.
        {{1023, 30}, {1048545, 30}, {Small}, "wrote 1023 KB; usually 1.0 GB"},
        {{9000, 18720}, {9100, 2880}, {Long}, "ran 5 h 12 min; usually 48 min"},
        {{812, 10800},
         {1610612736, 45},
         {Small, Long},
         "wrote 812 KB; usually 1.5 TB / ran 3 h 0 min; usually 45 s"},
    };
    Findings findings = findingsWith({.jobs = 300});
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        findings.suspicious.push_back({"PolS", "host" + std::to_string(i), "Full",
                                       std::to_string(4700 + i), end - 600, cases[i].size,
                                       cases[i].usual, cases[i].reasons});
    }
    // More than a list shows.
    for (int i = 0; i < 100; ++i)
        findings.suspicious.push_back(findings.suspicious.back());
    findings.counts.suspicious = findings.suspicious.size();
    EXPECT_FALSE(needsAction(findings));
    const ReportFile report{"/srv/fennick/report_01-12-26.html", {}};
    const ActionSummary summary{report, findings, kMeanings, {end - 86400, end}, 7};
    const std::string text = summaryText(summary), html = summaryHtml(summary);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].check);
        EXPECT_TRUE(hasRow(text, {"PolS", "host" + std::to_string(i), "Full",
                                  std::to_string(4700 + i), "12/01/2026 05:56:40", cases[i].check}))
            << text;
        EXPECT_NE(html.find(std::string("Check:</span> ") + cases[i].check + "</div></div>"),
                  std::string::npos);
    }
    const std::string heading = "Succeeded, but check: 105 jobs";
    ASSERT_NE(text.find(heading), std::string::npos) << text;
    EXPECT_LT(text.find("Needs action"), text.find(heading));
    EXPECT_LT(text.find(heading), text.find("\xE2\x80\xA6 and 5 more"));
    EXPECT_LT(text.find("\xE2\x80\xA6 and 5 more"), text.find("Still running or queued"));
    EXPECT_LT(html.find("Needs action"), html.find(">" + heading + "</h2>"));
    std::size_t blocks = 0;
    for (std::size_t from = 0; (from = html.find("class=\"check\"", from)) != std::string::npos;
         ++from)
        ++blocks;
    EXPECT_EQ(blocks, kListedRows);

    // Without any, nothing is said: "none" would claim a check that a run
    // without earlier successes to measure against never made.
    findings.suspicious.clear();
    findings.counts.suspicious = 0;
    EXPECT_EQ(summaryText(summary).find("Succeeded, but check"), std::string::npos);
    EXPECT_EQ(summaryHtml(summary).find("Succeeded, but check"), std::string::npos);
}

// The grid's cells of an HTML row, left to right: each one's night, sign,
// title and background.
struct HtmlCell {
    std::string night, title, background, sign;
    bool operator==(const HtmlCell&) const = default;
};

std::vector<std::vector<HtmlCell>> gridRows(const std::string& html) {
    static const std::regex row("<tr>(<td title=.*?)</tr>");
    static const std::regex cell(
        "<td data-night=\"(\\d+)\" title=\"([^\"]*)\" style=\"[^\"]*background:([^;\"]*)[^\"]*\">"
        "([^<]*)</td>");
    std::vector<std::vector<HtmlCell>> rows;
    for (auto r = std::sregex_iterator(html.begin(), html.end(), row); r != std::sregex_iterator();
         ++r) {
        const std::string cells = (*r)[1];
        auto& shown = rows.emplace_back();
        for (auto c = std::sregex_iterator(cells.begin(), cells.end(), cell);
             c != std::sregex_iterator(); ++c)
            shown.push_back({(*c)[1], (*c)[2], (*c)[3], (*c)[4]});
    }
    return rows;
}

// Each row of the grid shows the nights the oldest first, by sign in the
// text and by sign, colour and title in the HTML; nights past the mail's 14
// are not shown, and one a row does not hold is not known.
TEST(SummaryText, TheLastNightsGridShowsEachRowsNightsOldestFirst) {
    using enum NightState;
    const Window window{1795990000, 1796076400};
    Findings findings = findingsWith({.jobs = 3, .failed = 1, .failing = 2, .suspicious = 1});
    findings.nights = nightsOf(window, kPageNights);
    // Night 0 first; the mail shows nights 0 to 13.
    NightStates polA{Failed, Ok, Partial, Running, None, Ok, Ok, Ok, Ok, Ok, Ok, Ok, Ok, Unknown};
    polA.resize(kPageNights, Failed);
    findings.dailyNights = {{"PolA", polA}, {"PolB", NightStates(kPageNights, Ok)}};
    const std::string longName(45, 'L');
    findings.failing.push_back({"PolA", "host0", "Daily", true, "13", "7", 1796070000, 1,
                                std::nullopt, std::nullopt, 0, polA});
    // A stream whose nights were not told is not known on any of them.
    findings.failing.push_back({longName, "hostL", "Full", false, "13", "8", 1796070000, 1,
                                std::nullopt, std::nullopt, 0, NightStates{}});
    findings.suspicious.push_back({"PolS",
                                   "hostS",
                                   "Full",
                                   "9",
                                   1796070000,
                                   JobSize{0, 1},
                                   JobSize{900, 1},
                                   {Suspicion::NoData}});
    const ReportFile report{"/srv/fennick/report_01-12-26.html", {}};
    const ActionSummary summary{report, findings, kMeanings, window, 7};
    const std::string text = summaryText(summary), html = summaryHtml(summary);

    const std::string polASigns =
        "?\xE2\x9C\x93\xE2\x9C\x93\xE2\x9C\x93\xE2\x9C\x93\xE2\x9C\x93"
        "\xE2\x9C\x93\xE2\x9C\x93\xE2\x9C\x93\xC2\xB7\xE2\x80\xA6!"
        "\xE2\x9C\x93\xE2\x9C\x97";  // ?✓✓✓✓✓✓✓✓·…!✓✗
    std::string okSigns, unknownSigns(14, '?');
    for (int k = 0; k < 14; ++k)
        okSigns += "\xE2\x9C\x93";
    // A name column of the longest name, cut to 40 characters so that the
    // nights line up.
    const std::string pad40(40, ' ');
    const std::string shortPad = pad40.substr(4) + "  ", streamPad = pad40.substr(20) + "  ";
    const std::string grid =
        "Last 14 nights\n"
        "From 11/17/2026 to 11/30/2026, by the date each night starts.\n"
        "The oldest night is on the left, this report's night on the right.\n"
        "\xE2\x9C\x93 succeeded  ! partly  \xE2\x9C\x97 failed  \xE2\x80\xA6 running  \xC2\xB7 no "
        "job  ? not known\n"
        "Daily policies:\n"
        "  PolA" +
        shortPad + polASigns +
        "\n"
        "  PolB" +
        shortPad + okSigns +
        "\n"
        "Still failing (policy / client / schedule):\n"
        "  PolA / host0 / Daily" +
        streamPad + polASigns +
        "\n"
        "  " +
        longName.substr(0, 39) + "\xE2\x80\xA6  " + unknownSigns + "\n";
    const std::size_t at = text.find(grid);
    ASSERT_NE(at, std::string::npos) << text;
    // After all that needs action, before the successes to check.
    EXPECT_LT(text.find("Needs action"), at);
    EXPECT_LT(text.find("Every daily policy has jobs"), at);
    EXPECT_LT(at, text.find("Succeeded, but check"));

    const auto cellsOf = [&](const NightStates& states) {
        std::vector<HtmlCell> cells;
        for (std::size_t k = 14; k-- > 0;) {
            const NightState state = k < states.size() ? states[k] : Unknown;
            cells.push_back({std::to_string(k),
                             std::to_string(11) + '/' + std::to_string(30 - k) +
                                 "/2026: " + std::string(nightWords(state)),
                             std::string(nightColour(state)), std::string(nightSign(state))});
        }
        return cells;
    };
    const auto rows = gridRows(html);
    EXPECT_EQ(rows, (std::vector{cellsOf(polA), cellsOf(NightStates(kPageNights, Ok)),
                                 cellsOf(polA), cellsOf({})}));
    // The long name is cut in the HTML as well, and whole in its title.
    EXPECT_NE(html.find("<td title=\"" + longName + " / hostL / Full\""), std::string::npos);
    EXPECT_NE(html.find(">" + std::string(39, 'L') + "\xE2\x80\xA6</div>"), std::string::npos);
    for (const NightState state : kLegendStates) {
        EXPECT_NE(html.find(std::string(nightSign(state)) + "</span> " +
                            std::string(nightWords(state)) + "</span>"),
                  std::string::npos)
            << nightWords(state);
    }
    EXPECT_LT(html.find("Needs action"), html.find(">Last 14 nights</h2>"));
    EXPECT_LT(html.find(">Last 14 nights</h2>"), html.find("Succeeded, but check"));
    EXPECT_EQ(html.find("<style"), std::string::npos);
}

// Each list of the grid stops at kListedRows; without the nights, or
// without a row to show, there is no grid.
TEST(SummaryText, TheGridsListsStopAt100RowsAndNoNightsShowNoGrid) {
    struct Case {
        bool gathered;
        std::size_t daily, failing;
        const char* dailyMore;    // "… and N more" under the daily policies
        const char* failingMore;  // and under the streams
    };
    const Case cases[] = {
        {true, 101, 0, "1", nullptr},       {true, 3, 102, nullptr, "2"},
        {true, 100, 100, nullptr, nullptr}, {false, 3, 1, nullptr, nullptr},
        {true, 0, 0, nullptr, nullptr},
    };
    const ReportFile report{"/srv/fennick/report_01-12-26.html", {}};
    const Window window{1795990000, 1796076400};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.daily) + " daily, " + std::to_string(c.failing) + " failing" +
                     (c.gathered ? "" : ", no nights"));
        Findings findings = findingsWith({.failing = c.failing});
        if (c.gathered)
            findings.nights = nightsOf(window, kPageNights);
        for (std::size_t i = 0; i < c.daily; ++i)
            findings.dailyNights.push_back(
                {"D" + std::to_string(i), NightStates(kPageNights, NightState::Ok)});
        for (std::size_t i = 0; i < c.failing; ++i) {
            findings.failing.push_back({"F", "h" + std::to_string(i), "Daily", true, "13", "1",
                                        1796070000, 1, std::nullopt, std::nullopt, 0,
                                        NightStates(kPageNights, NightState::Failed)});
        }
        const ActionSummary summary{report, findings, kMeanings, window, 7};
        const std::string text = summaryText(summary), html = summaryHtml(summary);
        const bool shown = c.gathered && c.daily + c.failing > 0;
        EXPECT_EQ(text.find("Last 14 nights") != std::string::npos, shown) << text;
        EXPECT_EQ(html.find("Last 14 nights") != std::string::npos, shown);
        const auto rows = gridRows(html);
        EXPECT_EQ(rows.size(), shown ? std::min<std::size_t>(c.daily, kListedRows) +
                                           std::min<std::size_t>(c.failing, kListedRows)
                                     : 0);
        if (!shown)
            continue;
        // Each list in the text: its heading, its rows, then what is left out.
        struct List {
            std::string heading;
            std::size_t rows;
            const char* more;
        };
        const List lists[] = {
            {"Daily policies:\n", c.daily, c.dailyMore},
            {"Still failing (policy / client / schedule):\n", c.failing, c.failingMore}};
        for (const List& list : lists) {
            if (list.rows == 0) {
                EXPECT_EQ(text.find(list.heading), std::string::npos);
                continue;
            }
            const std::size_t from = text.find(list.heading);
            ASSERT_NE(from, std::string::npos) << list.heading;
            std::size_t end = from + list.heading.size();
            for (std::size_t row = 0; row < std::min(list.rows, kListedRows); ++row) {
                EXPECT_EQ(text.compare(end, 2, "  "), 0);
                end = text.find('\n', end) + 1;
            }
            const std::string more =
                list.more ? "\xE2\x80\xA6 and " + std::string(list.more) + " more" : "";
            // The line after the rows: what is left out, or no more rows.
            const std::string next = text.substr(end, text.find('\n', end) - end);
            if (list.more)
                EXPECT_EQ(next, "  " + more) << list.heading;
            else
                EXPECT_FALSE(next.starts_with("  ")) << next;
            if (list.more) {
                EXPECT_NE(html.find(">" + more + "</td></tr>"), std::string::npos);
            }
        }
    }
}

}  // namespace
}  // namespace fennick
