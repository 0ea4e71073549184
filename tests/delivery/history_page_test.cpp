#include "delivery/history_page.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/time_zone.h"
#include "delivery/night_cells.h"
#include "delivery/text_encoding.h"

namespace fennick {
namespace {

// 05-12-2026 16:30 UTC: 00:30 on the 6th in the report zone, 11:30 on the 5th
// five hours behind UTC.
constexpr double kWindowEnd = 1796488200;
constexpr double kDay = 86400;

Findings findingsOf(std::size_t nights) {
    Findings findings;
    findings.nights = nightsOf(Window{kWindowEnd - kDay, kWindowEnd, nullptr}, nights);
    for (std::size_t k = 0; k < nights; ++k)
        findings.nightTotals.push_back({10 + k, k % 3, 1536.0 * static_cast<double>(k)});
    findings.knownSince = kWindowEnd - 40 * kDay;
    return findings;
}

struct GridCell {
    std::size_t night;
    std::string colour, title, sign;
};
struct GridRow {
    std::string name;
    std::vector<GridCell> cells;
};

// The text between `open` and the next `close` from `at` on, and `at` moved
// past it; nothing when there is none.
std::optional<std::string> between(const std::string& text, std::size_t& at, std::string_view open,
                                   std::string_view close) {
    const auto from = text.find(open, at);
    if (from == std::string::npos)
        return std::nullopt;
    const auto to = text.find(close, from + open.size());
    if (to == std::string::npos)
        return std::nullopt;
    at = to + close.size();
    return text.substr(from + open.size(), to - from - open.size());
}

// The grid's rows as the page writes them, cells left to right.
std::vector<GridRow> gridRows(const std::string& html) {
    std::vector<GridRow> rows;
    std::size_t at = 0;
    while (const auto row =
               between(html, at, "<tr><th class=\"name\" scope=\"row\" title=\"", "</tr>")) {
        std::size_t in = 0;
        GridRow parsed{*between(*row, in, "", "\""), {}};
        while (const auto night = between(*row, in, "<td class=\"night\" data-night=\"", "\"")) {
            GridCell cell{std::stoul(*night), *between(*row, in, " style=\"background:", ";"),
                          *between(*row, in, "title=\"", "\">"), *between(*row, in, "", "</td>")};
            parsed.cells.push_back(std::move(cell));
        }
        rows.push_back(std::move(parsed));
    }
    return rows;
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(HistoryPage, GridRowsHoldEveryNightOldestLeftWithItsSignColourAndWords) {
    const NightStates kinds = {NightState::Ok,      NightState::Failed, NightState::Partial,
                               NightState::Running, NightState::None,   NightState::Unknown};
    for (const std::size_t count : {std::size_t{3}, kPageNights}) {
        SCOPED_TRACE(count);
        Findings findings = findingsOf(count);
        // Each row starts at another kind, so every kind lands on every row.
        const auto statesFrom = [&](std::size_t first) {
            NightStates states;
            for (std::size_t k = 0; k < count; ++k)
                states.push_back(kinds[(first + k) % kinds.size()]);
            return states;
        };
        findings.dailyNights = {
            {"PolA", statesFrom(0)}, {"PolB", statesFrom(1)}, {"PolC", statesFrom(2)}};
        findings.failing.push_back(
            {"PolX", "host1", "Full", false, "13", "77", 0, 1, {}, {}, 1, statesFrom(3)});
        findings.failing.push_back(
            {"PolA", "host2", "Incr", true, "50", "78", 0, 1, {}, {}, 1, statesFrom(4)});
        const std::string html = historyPageHtml({findings, {kWindowEnd - kDay, kWindowEnd}, {}});

        const std::vector<std::string> names = {"PolA", "PolB", "PolC", "PolX / host1 / Full",
                                                "PolA / host2 / Incr"};
        const std::vector<GridRow> rows = gridRows(html);
        ASSERT_EQ(rows.size(), names.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            SCOPED_TRACE(names[r]);
            EXPECT_EQ(rows[r].name, names[r]);
            ASSERT_EQ(rows[r].cells.size(), count);
            const NightStates states = statesFrom(r);
            for (std::size_t column = 0; column < count; ++column) {
                const GridCell& cell = rows[r].cells[column];
                const std::size_t k = count - 1 - column;
                EXPECT_EQ(cell.night, k);
                EXPECT_EQ(cell.sign, nightSign(states[k]));
                EXPECT_EQ(cell.colour, nightColour(states[k]));
                const std::string date =
                    reportZoneText(findings.nights[k].start).substr(0, 10);  // MM/DD/YYYY
                EXPECT_EQ(cell.title, date + ": " + std::string(nightWords(states[k])));
            }
        }
        // The legend names every state once, with its sign.
        for (const NightState state : kLegendStates) {
            std::string item = "\">";
            item += nightSign(state);
            item += "</span>";
            item += nightWords(state);
            item += "</li>";
            EXPECT_EQ(countOf(html, item), 1u) << nightWords(state);
        }
        // Column headings, oldest left.
        const std::string first = reportZoneText(findings.nights[count - 1].start).substr(0, 5);
        const std::string last = reportZoneText(findings.nights[0].start).substr(0, 5);
        const auto heading = [](const std::string& day) {
            std::string text = "<span>";
            text += day;
            text += "</span>";
            return text;
        };
        EXPECT_LT(html.find(heading(first)), html.find(heading(last)));
    }
}

TEST(HistoryPage, LinksOnlyTheReportPagesThereNamedAfterTheLocalDateOfEachNightsEnd) {
    const TimeZone fiveWest = TimeZone::fixed(std::chrono::hours{-5});
    struct Case {
        const TimeZone* zone;
        std::set<std::string> there;
        std::vector<std::string> linked;  // newest first
    };
    const Case cases[] = {
        {nullptr,
         {"report_06-12-26.html", "report_04-12-26.html", "report_01-01-26.html"},
         {"report_06-12-26.html", "report_04-12-26.html"}},
        {&fiveWest,
         {"report_06-12-26.html", "report_05-12-26.html", "report_03-12-26.html"},
         {"report_05-12-26.html", "report_03-12-26.html"}},
        {&fiveWest, {}, {}},
    };
    const Findings findings = findingsOf(kPageNights);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone ? c.zone->name() : "report zone");
        EXPECT_EQ(reportPageOf(kWindowEnd, c.zone),
                  c.zone ? "report_05-12-26.html" : "report_06-12-26.html");
        std::vector<std::string> asked;
        const HistoryPage page{
            findings, {kWindowEnd - kDay, kWindowEnd, c.zone}, [&](std::string_view name) {
                asked.emplace_back(name);
                return c.there.contains(std::string(name));
            }};
        const std::string html = historyPageHtml(page);
        EXPECT_EQ(asked.size(), kPageNights);
        std::vector<std::string> linked;
        std::size_t at = 0;
        while (const auto href = between(html, at, "<a href=\"", "\"")) {
            EXPECT_EQ(between(html, at, " title=\"", "\">report</a>"), href);
            linked.push_back(*href);
        }
        EXPECT_EQ(linked, c.linked);
    }
}

// Nights that ended before the first known job have no counts to show: a 0
// there would claim that nothing ran.
TEST(HistoryPage, NightsBeforeTheKnownJobsShowNoCounts) {
    Findings findings = findingsOf(kPageNights);
    findings.knownSince = findings.nights[2].start;
    const std::string html =
        historyPageHtml({findings, {kWindowEnd - kDay, kWindowEnd}, [](auto) { return false; }});
    EXPECT_EQ(countOf(html, "colspan=\"3\">not known</td>"), kPageNights - 3);
    // The chart draws a bar, with its title, for the three known nights only.
    EXPECT_EQ(countOf(html, "<g><title>"), 3u);
}

TEST(HistoryPage, IsOneSelfContainedPageWhateverItShows) {
    Findings hostile = findingsOf(kPageNights);
    hostile.dailyNights = {{"<b>&amp;", NightStates(kPageNights, NightState::Ok)},
                           {"caf\xE9 \"q\"", NightStates(kPageNights, NightState::Failed)},
                           {"Z\xC3\xBCrich", NightStates(kPageNights, NightState::None)}};
    hostile.failing.push_back(
        {"<script>", "a&b", "x'y", true, "2", "9", 0, 1, {}, {}, 1, NightStates{}});
    Findings many = findingsOf(kPageNights);
    for (std::size_t i = 0; i < kHistoryRows + 3; ++i)
        many.dailyNights.push_back(
            {std::string("P").append(std::to_string(i)), NightStates(kPageNights)});
    Findings none;
    none.knownSince = kWindowEnd - 3 * kDay;
    const Findings noRows = findingsOf(kPageNights);

    struct Case {
        const char* what;
        const Findings& findings;
        std::vector<std::string> shown, absent;
        std::size_t rows;
    };
    const Case cases[] = {
        {"hostile names",
         hostile,
         {"title=\"&lt;b&gt;&amp;amp;\"><div>&lt;b&gt;&amp;amp;</div>", "caf\xC3\xA9 &quot;q&quot;",
          "Z\xC3\xBCrich", "&lt;script&gt; / a&amp;b / x&#39;y", "Failing now (1)"},
         {"<b>", "\xE9 "},
         4},
        {"1003 daily policies",
         many,
         {"Daily policies (1003)", ">P999<", "\xE2\x80\xA6 and 3 more</span></td>"},
         {">P1000<"},
         kHistoryRows},
        {"no rows", noRows, {"No daily policies are listed and no stream is failing."}, {}, 0},
        {"no nights",
         none,
         {"No history was kept", "The known jobs begin at 12/03/2026 00:30:00"},
         {"<svg", "<table"},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string html = historyPageHtml(
            {c.findings, {kWindowEnd - kDay, kWindowEnd}, [](auto) { return true; }});
        EXPECT_EQ(html.rfind("<!DOCTYPE html>\n<html lang=\"en\">", 0), 0u);
        EXPECT_NE(html.find("<title>Backup history</title>"), std::string::npos);
        EXPECT_TRUE(html.ends_with("</body>\n</html>\n"));
        EXPECT_TRUE(isValidUtf8(html));
        EXPECT_EQ(html.find("<script"), std::string::npos);
        EXPECT_EQ(html.find("http"), std::string::npos);
        EXPECT_EQ(html.find("src="), std::string::npos);
        EXPECT_EQ(gridRows(html).size(), c.rows);
        for (const std::string& text : c.shown)
            EXPECT_NE(html.find(text), std::string::npos) << text;
        for (const std::string& text : c.absent)
            EXPECT_EQ(html.find(text), std::string::npos) << text;
        if (c.findings.nights.empty())
            continue;
        // The chart, described by its own text and by the list of nights.
        EXPECT_NE(html.find("<svg viewBox=\"0 0 600.0 340.0\" role=\"img\""), std::string::npos);
        EXPECT_NE(html.find("aria-describedby=\"chart-desc night-list\""), std::string::npos);
        EXPECT_NE(html.find("<table class=\"list\" id=\"night-list\">"), std::string::npos);
        EXPECT_NE(html.find("The last 30 nights from 11/06/2026 00:30:00 to 12/06/2026 00:30:00: "
                            "735 jobs, 30 failed, 652.5 MB written."),
                  std::string::npos);
        // Newest first: night 0's row before night 1's, with its totals.
        const auto newest = html.find(
            "12/05/2026 00:30:00</span> \xE2\x86\x92 <span class=\"t\">"
            "12/06/2026 00:30:00</span></td><td class=\"n\">10</td>");
        const auto next = html.find("<span class=\"t\">12/04/2026 00:30:00</span> \xE2\x86\x92");
        EXPECT_NE(newest, std::string::npos);
        EXPECT_LT(newest, next);
    }
}

}  // namespace
}  // namespace fennick
