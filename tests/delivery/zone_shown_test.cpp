// What the mail and the JSON say of a run given a zone, and of one without.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/time_zone.h"
#include "delivery/action_summary.h"
#include "delivery/report_json.h"

namespace fennick {
namespace {

TEST(ZoneShown, MailAndJsonNameTheZoneAndShowItsClockOnlyWhenOneIsGiven) {
    const TimeZone twoEast = TimeZone::fixed(std::chrono::hours{2});
    Findings findings;
    findings.failing.push_back({"PolA", "host", "Daily", true, "150", "4711", 1796000000.0, 1,
                                1795990000.0, 1795995000.0, 1, NightStates{}});
    findings.notFound.push_back({"PolC", std::nullopt, std::nullopt});
    findings.knownSince = 1795300000.0;
    findings.counts = {1, 1, 0, 0, 0, 1, 1, 0};
    const ReportFile report{"/srv/fennick/report_01-12-26.html", {}};
    struct Case {
        const TimeZone* zone;
        const char* window;
        const char* failedJob;
        const char* lastSuccess;
        const char* failingSince;
        const char* noneSince;  // of the policy without a job
        const char* json;       // nullptr: no zone key
    };
    const Case cases[] = {
        {nullptr, "from 11/30/2026 06:06:40 to 12/01/2026 06:06:40: ",
         "4711 at 11/30/2026 08:53:20", "11/30/2026 06:06:40, 1 day before", "11/30/2026 07:30:00",
         "none since 11/22/2026 06:26:40", nullptr},
        {&twoEast, "from 11/30/2026 00:06:40 to 12/01/2026 00:06:40 (times in UTC+2): ",
         "4711 at 11/30/2026 02:53:20", "11/30/2026 00:06:40, 1 day before", "11/30/2026 01:30:00",
         "none since 11/22/2026 00:26:40", "\"zone\": \"UTC+2\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        const Window window{1795990000, 1796076400, c.zone};
        const ActionSummary summary{report, findings, {}, window, 7};
        const std::string text = summaryText(summary);
        EXPECT_NE(text.find(c.window), std::string::npos) << text;
        EXPECT_NE(text.find(c.failedJob), std::string::npos) << text;
        EXPECT_NE(text.find(c.lastSuccess), std::string::npos) << text;
        EXPECT_NE(text.find(c.failingSince), std::string::npos) << text;
        EXPECT_NE(text.find(c.noneSince), std::string::npos) << text;

        const std::string json =
            reportJson({"/srv/fennick", window, 7, &report, &findings, nullptr, ""});
        if (c.json)
            EXPECT_NE(json.find(c.json), std::string::npos) << json;
        else
            EXPECT_EQ(json.find("zone"), std::string::npos) << json;
        EXPECT_NE(json.find("\"start\": 1795990000"), std::string::npos) << json;
    }
}

}  // namespace
}  // namespace fennick
