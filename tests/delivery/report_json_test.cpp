#include "delivery/report_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "pipeline/nights.h"

namespace fennick {
namespace {

TEST(ReportJson, FailingSinceAndTheHistoryAreNullOnlyWhereNothingIsKnown) {
    using json = nlohmann::ordered_json;
    const ReportFile report{"/srv/fennick/report_01-12-26.html", {}};
    const HistoryState used{.file = "/srv/h.db", .jobs = 1200, .recorded = 37, .error = ""};
    // 8-bit text, as a folder's name may bring: UTF-8 in the document.
    const HistoryState unread{.file = "/srv/caf\xE9/h.db",
                              .jobs = std::nullopt,
                              .recorded = 0,
                              .error = "caf\xE9: locked"};
    struct Case {
        const HistoryState* history;
        bool finished;  // with the page and the findings
        std::optional<double> since;
        json failing, expected;
    };
    const Case cases[] = {
        {nullptr, true, std::nullopt, {nullptr, 0}, nullptr},
        {&used,
         true,
         1795300000.75,
         {1795300000, 4},
         {{"file", "/srv/h.db"},
          {"jobs", 1200},
          {"recorded", 37},
          {"known_since", 1795300000},
          {"error", nullptr},
          {"nights", nullptr},
          {"policies", nullptr}}},
        // A failed run has no findings to know a time from.
        {&unread,
         false,
         1795300000.0,
         nullptr,
         {{"file", "/srv/caf\xC3\xA9/h.db"},
          {"jobs", nullptr},
          {"recorded", 0},
          {"known_since", nullptr},
          {"error", "caf\xC3\xA9: locked"},
          {"nights", nullptr},
          {"policies", nullptr}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.dump());
        Findings findings;
        findings.failing.push_back({"PolA", "hostA", "Daily", true, "2", "1010", 1796000000.0, 5,
                                    1795200000.0, c.since, c.since ? 4u : 0u, NightStates{}});
        findings.knownSince = c.since;
        JsonRun run;
        run.history = c.history;
        if (c.finished) {
            run.report = &report;
            run.findings = &findings;
        }
        const json document = json::parse(reportJson(run));
        EXPECT_EQ(document.at("history"), c.expected);
        EXPECT_EQ(std::prev(document.end()).key(), "history");  // after the keys there were
        if (!c.finished)
            continue;
        const json& stream = document.at("failing").at(0);
        // Each right after the last success.
        const auto at = stream.find("last_success");
        ASSERT_NE(at, stream.end());
        EXPECT_EQ(json::array({*std::next(at), *std::next(at, 2)}), c.failing);
        EXPECT_EQ(std::next(at).key() + ' ' + std::next(at, 2).key(),
                  "failing_since failed_since_success");
    }
}

// Only the overdue policies are listed; the suspicious successes with their
// figures as the dump gave them; a failed run knows neither.
TEST(ReportJson, OverduePoliciesAndSuspiciousSuccessesAreListedAndCounted) {
    using json = nlohmann::ordered_json;
    using Verdict = IntervalPolicy::Verdict;
    const ReportFile report{"/srv/fennick/report_01-12-26.html", {}};
    Findings findings;
    findings.intervals = {{"PolW", 7, 1795300000.0, 1796000000.0, Verdict::Overdue},
                          {"PolK", 3, 1796000000.0, 1796000000.0, Verdict::Kept},
                          {"PolU", 30, std::nullopt, std::nullopt, Verdict::Unknown},
                          {"PolN", 1, std::nullopt, std::nullopt, Verdict::Overdue}};
    using enum Suspicion;
    findings.suspicious.push_back({"PolS", "hostS", "Full", "4711", 1796000200.0, JobSize{0, 60.5},
                                   JobSize{13002342, 600}, std::vector{NoData, Small}});
    findings.suspicious.push_back({"caf\xE9", "hostT", "Incr", "4712", 1796000300.0,
                                   JobSize{9000, 18720}, JobSize{9100, 2880}, std::vector{Long}});
    findings.counts = {.jobs = 9, .overdue = 2, .suspicious = 2};
    const json overdue = json::parse(R"([
        {"policy": "PolW", "interval_days": 7, "last_success": 1795300000,
         "last_job": 1796000000},
        {"policy": "PolN", "interval_days": 1, "last_success": null, "last_job": null}])");
    const json suspicious = json::parse(R"([
        {"policy": "PolS", "client": "hostS", "schedule": "Full", "job_id": "4711",
         "start": 1796000200, "kbytes": 0, "elapsed": 60.5, "usual_kbytes": 13002342,
         "usual_elapsed": 600, "reasons": ["no data", "small"]},
        {"policy": "caf\u00e9", "client": "hostT", "schedule": "Incr", "job_id": "4712",
         "start": 1796000300, "kbytes": 9000, "elapsed": 18720, "usual_kbytes": 9100,
         "usual_elapsed": 2880, "reasons": ["long"]}])");
    for (const bool finished : {true, false}) {
        SCOPED_TRACE(finished);
        JsonRun run;
        if (finished) {
            run.report = &report;
            run.findings = &findings;
        }
        const json document = json::parse(reportJson(run));
        EXPECT_EQ(document.at("overdue"), finished ? overdue : json(nullptr));
        EXPECT_EQ(document.at("suspicious"), finished ? suspicious : json(nullptr));
        if (!finished)
            continue;
        EXPECT_EQ(document.at("counts").at("overdue"), 2);
        EXPECT_EQ(document.at("counts").at("suspicious"), 2);
        // Listed in the mail's order: after the policies not found.
        const auto at = document.find("not_found");
        EXPECT_EQ(std::next(at).key() + ' ' + std::next(at, 2).key() + ' ' + std::next(at, 3).key(),
                  "overdue suspicious recovered");
    }
}

// The mail's 14 nights, night 0 first: in the history when the run keeps
// one, on their own when it does not, null when they were not gathered or
// the run failed.
TEST(ReportJson, TheMailsNightsSitInTheHistoryOrOnTheirOwn) {
    using json = nlohmann::ordered_json;
    using enum NightState;
    const ReportFile report{"/srv/fennick/report_01-12-26.html", {}};
    const HistoryState used{.file = "/srv/h.db", .jobs = 1200, .recorded = 37, .error = ""};
    const Window window{1795990000, 1796076400};
    NightStates polA{Failed, Ok, Partial, Running, None, Unknown};
    polA.resize(kPageNights, Failed);  // nights past the 14th are not written
    Findings findings;
    findings.nights = nightsOf(window, kPageNights);
    findings.dailyNights = {{"caf\xE9", polA}, {"PolB", NightStates(kPageNights, Ok)}};
    findings.failing.push_back({"PolA", "hostA", "Daily", true, "2", "1010", 1796000000.0, 1,
                                std::nullopt, std::nullopt, 0, polA});
    json nights = json::array();
    for (int k = 0; k < 14; ++k)
        nights.push_back({{"start", 1795990000 - k * 86400}, {"end", 1796076400 - k * 86400}});
    const json polANights = json::parse(R"(["failed", "ok", "partial", "running", "none",
        "unknown", "failed", "failed", "failed", "failed", "failed", "failed", "failed",
        "failed"])");
    const json policies = {
        {{"policy", "caf\u00e9"}, {"nights", polANights}},
        {{"policy", "PolB"}, {"nights", json(std::vector<std::string>(14, "ok"))}}};
    struct Case {
        const HistoryState* history;
        bool finished, gathered;
    };
    for (const Case c :
         {Case{&used, true, true}, Case{nullptr, true, true}, Case{&used, true, false},
          Case{nullptr, true, false}, Case{&used, false, true}, Case{nullptr, false, true}}) {
        SCOPED_TRACE(std::string(c.history ? "history" : "no history") +
                     (c.finished ? "" : ", failed") + (c.gathered ? "" : ", no nights"));
        Findings shown = findings;
        if (!c.gathered) {
            shown.nights.clear();
            shown.dailyNights.clear();
            shown.failing[0].nights.clear();
        }
        JsonRun run;
        run.window = window;
        run.history = c.history;
        if (c.finished) {
            run.report = &report;
            run.findings = &shown;
        }
        const json document = json::parse(reportJson(run));
        const bool said = c.finished && c.gathered;
        const json where = c.history ? document.at("history") : document.at("nights");
        if (c.history) {
            EXPECT_FALSE(document.contains("nights"));
        } else {
            // Just before the history, whose null stays the last key.
            EXPECT_EQ(std::prev(document.end(), 2).key(), "nights");
            if (!said) {
                EXPECT_TRUE(where.is_null());
                continue;
            }
        }
        EXPECT_EQ(where.at("nights"), said ? nights : json(nullptr));
        EXPECT_EQ(where.at("policies"), said ? policies : json(nullptr));
        if (c.finished) {
            EXPECT_EQ(document.at("failing").at(0).at("nights"),
                      c.gathered ? polANights : json(nullptr));
        }
    }
}

}  // namespace
}  // namespace fennick
