#include "delivery/action_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

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
    // jobs, failed, recovered, running, partial, failing, notFound, skipped
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
        {{0, 0, 0, 0, 0, 0, 2, 0, 3},
         "Backup Report 09-12-26: 2 daily policies not found, dump not newest first (0 jobs)"},
        {{4, 0, 0, 0, 0, 0, 0, 0, 1}, "Backup Report 09-12-26: dump not newest first (4 jobs)"},
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
        const Findings findings = findingsWith({5, 0, 0, 0, 0, 0, 0, 0, leftOut});
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
        {{1, 0, 0, 0, 0, 0, 1, 2},
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
        findings.failing.push_back(
            {"PolA", "client1", "Daily", true, "13", "7", start, 1, start, start, 1});
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
                                    1795990000.0, 2});
    }
    findings.notFound.push_back({"PolC", 1795900000.0, std::nullopt});
    findings.recovered.push_back({"PolB", "hostB", "Daily", "900", "58", 1796000100.0, "901"});
    findings.counts = {400, 106, 1, 2, 0, 105, 1, 3};
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
                                std::nullopt, 1796000000.0, 1});
    findings.notFound.push_back({"PolC", 1795900000.0, std::nullopt});
    findings.recovered.push_back({"PolB", "hostB", "Daily", "1008", "2", 1796000100.0, "1009"});
    findings.counts = {3, 2, 1, 0, 0, 1, 1, 0};
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
                                        "1010", 1796000000.0, 1, std::nullopt, 1796000000.0, 1});
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
                                std::nullopt, std::nullopt, 0});
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
        findings.failing.push_back(
            {"PolA", "hostA", "Daily", true, "2", "1010", end - 600, 1, c.last, c.failingSince, 3});
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

}  // namespace
}  // namespace fennick
