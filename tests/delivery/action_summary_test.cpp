#include "delivery/action_summary.h"

#include <gtest/gtest.h>

#include <string>

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
    };
    const ReportFile report{"/srv/fennick/report_09-12-26.html", {}};
    for (const Case& c : cases) {
        const Findings findings = findingsWith(c.counts);
        const ActionSummary summary{report, findings, kMeanings, {}, 7};
        EXPECT_EQ(actionSubject(summary), c.subject);
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
                                    std::to_string(1000 + i), 1796000000.0 + i, 2, std::nullopt});
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
    EXPECT_NE(text.find("none in 7 days"), std::string::npos);
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

}  // namespace
}  // namespace fennick
