#include "delivery/report_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

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
          {"error", nullptr}}},
        // A failed run has no findings to know a time from.
        {&unread,
         false,
         1795300000.0,
         nullptr,
         {{"file", "/srv/caf\xC3\xA9/h.db"},
          {"jobs", nullptr},
          {"recorded", 0},
          {"known_since", nullptr},
          {"error", "caf\xC3\xA9: locked"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.dump());
        Findings findings;
        findings.failing.push_back({"PolA", "hostA", "Daily", true, "2", "1010", 1796000000.0, 5,
                                    1795200000.0, c.since, c.since ? 4u : 0u});
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

}  // namespace
}  // namespace fennick
