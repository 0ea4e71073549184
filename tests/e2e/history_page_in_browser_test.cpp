// The history page laid out by a real browser (headless Chromium) at a
// phone's, a small laptop's and a desktop's width: the page never scrolls
// sideways, and every grid row shows its nights oldest left, each cell with
// its whole sign inside it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "delivery/history_page.h"
#include "delivery/night_cells.h"
#include "dom_tree.h"
#include "support/background_program.h"
#include "support/temp_dir.h"

namespace fennick::test {
namespace {

using namespace std::chrono_literals;

constexpr double kWindowEnd = 1796488200;  // 12/06/2026 00:30:00 in the report zone
constexpr std::size_t kPolicies = 40;
constexpr int kWidths[] = {360, 800, 1280};

const NightState kKinds[] = {NightState::Ok,     NightState::Ok, NightState::Partial,
                             NightState::Failed, NightState::Ok, NightState::Running,
                             NightState::None};

// 40 daily policies, a few with long names, and three failing streams; the
// three oldest nights are before the known jobs.
Findings findings() {
    Findings out;
    out.nights = nightsOf(Window{kWindowEnd - 86400, kWindowEnd, nullptr}, kPageNights);
    for (std::size_t k = 0; k < kPageNights; ++k)
        out.nightTotals.push_back({120 + k % 9, k % 4, 2.0e8 + 1.0e7 * static_cast<double>(k)});
    out.knownSince = out.nights[kPageNights - 4].start;
    const auto states = [](std::size_t seed) {
        NightStates nights;
        for (std::size_t k = 0; k < kPageNights; ++k)
            nights.push_back(k + 3 >= kPageNights ? NightState::Unknown
                                                  : kKinds[(seed + k * 3) % std::size(kKinds)]);
        return nights;
    };
    for (std::size_t p = 0; p < kPolicies; ++p) {
        std::string name = "Policy_";
        name += std::to_string(p);
        if (p % 5 == 2)
            name += "_Oracle_Archive_Logs_Every_Night_Kept_For_Ninety_Days";
        out.dailyNights.push_back({name, states(p)});
    }
    for (std::size_t s = 0; s < 3; ++s) {
        std::string client = "db-host-";
        client += std::to_string(s);
        client += ".backup.example";
        out.failing.push_back({std::string("Policy_").append(std::to_string(s)),
                               client,
                               "Daily_Incremental",
                               true,
                               "13",
                               "4711",
                               0,
                               1,
                               {},
                               {},
                               1,
                               states(7 * s + 1)});
    }
    return out;
}

// The value for an attribute in double quotes.
std::string attributeText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

// A page of the test's own that holds the history page once per width, each
// in a frame of that width, and writes what the browser laid out into a
// <pre id="at-WIDTH">: the document's and the grid's scroll and client
// widths, then per grid row its cells left to right as "night:sign:fits".
// The history page has no script; only this page does.
std::string measuringPage(const std::string& history) {
    std::string page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>";
    for (const int width : kWidths) {
        page += "<iframe width=\"";
        page += std::to_string(width);
        page += "\" height=\"900\" srcdoc=\"";
        page += attributeText(history);
        page += "\"></iframe>";
    }
    page += R"(<script>
window.onload = () => {
  for (const frame of document.querySelectorAll('iframe')) {
    const doc = frame.contentDocument, root = doc.documentElement, grid = doc.querySelector('.grid');
    const lines = ['page ' + root.scrollWidth + ' ' + root.clientWidth,
                   'grid ' + grid.scrollWidth + ' ' + grid.clientWidth];
    for (const row of doc.querySelectorAll('.grid tr')) {
      const cells = [...row.querySelectorAll('td.night')];
      if (!cells.length) continue;
      cells.sort((a, b) => a.getBoundingClientRect().left - b.getBoundingClientRect().left);
      lines.push('row ' + cells.map(cell => {
        const box = cell.getBoundingClientRect(), range = doc.createRange();
        range.selectNodeContents(cell);
        const sign = range.getBoundingClientRect();
        const fits = sign.width > 0 && sign.left >= box.left && sign.right <= box.right &&
                     sign.top >= box.top && sign.bottom <= box.bottom;
        return cell.dataset.night + ':' + cell.textContent + ':' + (fits ? 1 : 0);
      }).join(' '));
    }
    const out = document.createElement('pre');
    out.id = 'at-' + frame.width;
    out.textContent = lines.join('\n');
    document.body.append(out);
  }
};
</script></body></html>
)";
    return page;
}

std::vector<std::string> chromium(const TempDir& profile, std::vector<std::string> what) {
    // As root Chromium runs only without its sandbox; the rest keeps a
    // headless run quiet and off the network.
    std::vector<std::string> command = {"chromium",
                                        "--headless",
                                        "--no-sandbox",
                                        "--disable-gpu",
                                        "--disable-quic",
                                        "--no-first-run",
                                        "--disable-background-networking",
                                        "--disable-component-update",
                                        "--disable-sync",
                                        "--hide-scrollbars",
                                        "--user-data-dir=" + profile.path().string()};
    command.insert(command.end(), what.begin(), what.end());
    return command;
}

TEST(HistoryPageInABrowser, NeverScrollsSidewaysAndShowsEachRowsNightsOldestLeft) {
    if (!onPath("chromium"))
        GTEST_SKIP() << "chromium is not installed (Debian package chromium; "
                        "scripts/install-deps.sh installs it)";
    const Findings shown = findings();
    const std::string history =
        historyPageHtml({shown, {kWindowEnd - 86400, kWindowEnd, nullptr}, {}});
    ASSERT_EQ(history.find("<script"), std::string::npos);

    const TempDir dir;
    dir.write("history.html", history);
    dir.write("measure.html", measuringPage(history));
    // All three start at once: most of a headless start is waiting.
    struct Run {
        std::unique_ptr<TempDir> profile = std::make_unique<TempDir>();
        std::unique_ptr<Child> browser;
        std::string output;
    };
    std::vector<Run> runs(3);
    runs[0].output = "dom.html";
    runs[0].browser = std::make_unique<Child>(
        chromium(*runs[0].profile, {"--window-size=1500,1000", "--dump-dom",
                                    "file://" + dir.file("measure.html").string()}),
        ChildOptions{.output = dir.file("dom.html"), .errors = dir.file("dom.err")});
    for (std::size_t r = 1; r < runs.size(); ++r) {
        const std::string width = r == 1 ? "360" : "1280";
        runs[r].output = std::string("history-").append(width).append(".png");
        runs[r].browser = std::make_unique<Child>(
            chromium(*runs[r].profile, {"--window-size=" + width + ",2400",
                                        "--screenshot=" + dir.file(runs[r].output).string(),
                                        "file://" + dir.file("history.html").string()}),
            ChildOptions{.errors = dir.file(runs[r].output + ".err")});
    }
    for (Run& run : runs) {
        SCOPED_TRACE(run.output);
        const std::optional<int> status = run.browser->waitFor(60s);
        ASSERT_TRUE(status.has_value()) << "chromium did not finish within 60 s";
        ASSERT_EQ(*status, 0) << dir.read(run.output + ".err");
    }
    // The screenshots are for a person to look at: FENNICK_SCREENSHOTS names
    // a folder to keep them in.
    for (const char* shot : {"history-360.png", "history-1280.png"}) {
        EXPECT_EQ(dir.read(shot).substr(0, 4), "\x89PNG") << shot;
        if (const char* keep = std::getenv("FENNICK_SCREENSHOTS"))
            std::filesystem::copy_file(dir.file(shot), std::filesystem::path(keep) / shot,
                                       std::filesystem::copy_options::overwrite_existing);
    }

    DomNode document;
    try {
        document = parseDom(dir.read("dom.html"));
    } catch (const std::exception& unreadable) {
        FAIL() << unreadable.what() << "\n" << dir.read("dom.err");
    }
    std::vector<const NightStates*> rows;
    for (const PolicyNights& policy : shown.dailyNights)
        rows.push_back(&policy.nights);
    for (const FailingStream& stream : shown.failing)
        rows.push_back(&stream.nights);

    for (const int width : kWidths) {
        SCOPED_TRACE(std::to_string(width) + " px");
        std::string measured;
        for (const DomNode* pre : document.all("pre")) {
            if (pre->attribute("id") == std::string("at-").append(std::to_string(width)))
                measured = pre->textContent();
        }
        ASSERT_FALSE(measured.empty()) << "nothing measured";
        std::istringstream lines(measured);
        std::string word;
        int scrollWidth = 0, clientWidth = 0;
        lines >> word >> scrollWidth >> clientWidth;
        ASSERT_EQ(word, "page");
        EXPECT_LE(scrollWidth, clientWidth) << "the page scrolls sideways";
        lines >> word >> scrollWidth >> clientWidth;
        ASSERT_EQ(word, "grid");
        if (width == 1280) {
            EXPECT_LE(scrollWidth, clientWidth) << "the grid scrolls at a desktop's width";
        }

        std::string line;
        std::getline(lines, line);
        std::size_t row = 0;
        for (; std::getline(lines, line); ++row) {
            SCOPED_TRACE(std::string("grid row ").append(std::to_string(row + 1)));
            ASSERT_LT(row, rows.size());
            ASSERT_EQ(line.substr(0, 4), "row ");
            std::string expected;
            for (std::size_t column = 0; column < kPageNights; ++column) {
                const std::size_t k = kPageNights - 1 - column;
                expected += expected.empty() ? "" : " ";
                expected += std::to_string(k);
                expected += ':';
                expected += nightSign((*rows[row])[k]);
                expected += ":1";
            }
            EXPECT_EQ(line.substr(4), expected);
        }
        EXPECT_EQ(row, rows.size());
    }
}

}  // namespace
}  // namespace fennick::test
