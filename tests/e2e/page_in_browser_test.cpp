// Report pages built by the real program from hostile names, opened in a
// real browser (headless Chromium): the tree the browser builds must be the
// table the program meant, with every name shown as text in its own cell.
#include <gtest/gtest.h>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dom_tree.h"
#include "support/background_program.h"
#include "support/dump_line.h"
#include "support/program.h"
#include "support/run_inputs.h"
#include "support/temp_dir.h"

namespace fennick::test {
namespace {

using namespace std::chrono_literals;

// The frozen clock of the run, read in UTC, and the start of its window's
// last hour as seconds since 1970: 01:00 on 5 December 2026 in the report
// zone, 8 hours ahead of UTC.
constexpr const char* kFrozenClock = "2026-12-05 02:15:00";
constexpr long long kLastHour =
    std::chrono::sys_seconds{std::chrono::sys_days{std::chrono::year{2026} / 12 / 5} +
                             std::chrono::hours{1} - std::chrono::hours{8}}
        .time_since_epoch()
        .count();
constexpr const char* kPage = "report_05-12-26.html";

const std::string kNoBreakSpace = "\xC2\xA0";                     // what "&nbsp" becomes, in UTF-8
const std::string kRetentionLabel = "<script>alert(3)</script>";  // level 3, every job's
// Listed policies without jobs: their name stands in the row's first cell.
const std::vector<std::string> kPoliciesWithoutJobs = {"</TD></TR><TR><TD>injected",
                                                       "\"><img src=x onerror=alert(2)>"};
// Cycled over the jobs; all but "0" and "1" highlight the row.
const std::vector<std::string> kStatuses = {"0", "2", "1", "<s>", ""};

const std::vector<std::string> kMarkup = {"<script>alert(1)</script>",
                                          "<img src=x onerror=alert(1)>",
                                          "</TD></TABLE>",
                                          "&amp;",
                                          "&nbsp",
                                          "\"quoted\"",
                                          "'single'",
                                          "<!-- open comment",
                                          "a<b>c</b>d"};

// Bytes of a page that holds 8-bit text read as the single-byte code page:
// 0xE9 and 0xFC are the same letters in Latin-1, windows-1252 and their
// neighbours.
std::string fromLatin1(const std::string& bytes) {
    std::string utf8;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

std::string asItIs(const std::string& bytes) {
    return bytes;
}

struct PageCase {
    const char* what;
    std::vector<std::string> names;  // policies with a job each; also schedules and clients
    std::string (*shown)(const std::string&);  // the text a reader sees for those bytes
};

// What a row of the page must hold: the texts of some of its cells by
// column, its number of cells and whether it is highlighted.
struct ExpectedRow {
    std::map<std::size_t, std::string> cells;
    std::size_t cellCount = 13;
    bool highlighted = false;
    bool notFound = false;
};

struct Inputs {
    std::vector<DumpJob> jobs;  // newest first, as in the dump
    std::vector<std::string> policyList;
};

// Job i belongs to policy i and borrows the next names for its schedule and
// client; one more job of the first policy comes last, so its row starts
// with the "&nbsp" cell.
Inputs inputsFor(const PageCase& page) {
    Inputs inputs;
    const std::size_t n = page.names.size();
    for (std::size_t i = 0; i <= n; ++i) {
        const long long start = kLastHour - 60 * static_cast<long long>(i);
        inputs.jobs.push_back({.id = std::to_string(500 - i),
                               .policy = page.names[i % n],
                               .schedule = page.names[(i + 1) % n],
                               .start = start,
                               .status = kStatuses[i % kStatuses.size()],
                               .client = page.names[(i + 2) % n]});
    }
    inputs.policyList = page.names;
    inputs.policyList.insert(inputs.policyList.end(), kPoliciesWithoutJobs.begin(),
                             kPoliciesWithoutJobs.end());
    return inputs;
}

// The rows after the heading and section rows: per listed policy its jobs
// in dump order, or its not-found row.
std::vector<ExpectedRow> expectedRows(const Inputs& inputs,
                                      std::string (*shown)(const std::string&)) {
    const auto cellText = [shown](const std::string& field) {
        return field.empty() ? kNoBreakSpace : shown(field);
    };
    std::vector<ExpectedRow> rows;
    for (const std::string& policy : inputs.policyList) {
        bool first = true;
        for (const DumpJob& job : inputs.jobs) {
            if (job.policy != policy)
                continue;
            rows.push_back({.cells = {{0, first ? cellText(policy) : kNoBreakSpace},
                                      {1, cellText(job.schedule)},
                                      {2, cellText(job.client)},
                                      {8, cellText(kRetentionLabel)},
                                      {9, cellText(job.status)},
                                      {11, job.id}},
                            .highlighted = job.status != "0" && job.status != "1"});
            first = false;
        }
        if (first) {
            rows.push_back({.cells = {{0, cellText(policy)}, {1, " Not Found"}},
                            .cellCount = 2,
                            .notFound = true});
        }
    }
    return rows;
}

// Runs the real program unattended in `appDir` under a frozen clock; its
// standard error, or a note on how it ended.
std::string runUnattended(const TempDir& appDir) {
    const Captured run = runShell("cd " + shellQuoted(appDir.path().string()) + " && " +
                                      kAsScheduled + frozenAt(kFrozenClock) + "./fennick -q 2>&1",
                                  60);
    return run.status == 0 ? run.output
                           : "status " + std::to_string(run.status) + ": " + run.output;
}

// Elements the program writes, and the ones a browser adds around them.
const std::set<std::string> kExpectedElements = {"html", "head", "body",  "style", "br", "h1",
                                                 "b",    "font", "table", "tbody", "tr", "td"};

void checkTree(const DomNode& document, const std::vector<ExpectedRow>& rows) {
    std::map<std::string, int> counts;
    for (const std::string& name : document.elementNamesBelow())
        ++counts[name];
    for (const auto& [name, count] : counts) {
        EXPECT_TRUE(kExpectedElements.contains(name))
            << count << " <" << name << "> element(s) that the program never writes";
    }
    EXPECT_EQ(counts["table"], 1);
    EXPECT_EQ(counts["style"], 1);
    EXPECT_EQ(counts["h1"], 1);

    const auto tables = document.all("table");
    ASSERT_EQ(tables.size(), 1u);
    const auto trs = tables[0]->all("tr");
    ASSERT_EQ(trs.size(), rows.size() + 2) << "heading row, section row and one per line";
    EXPECT_EQ(document.all("tr").size(), trs.size()) << "a row outside the table";
    EXPECT_EQ(document.all("td").size(), tables[0]->all("td").size()) << "a cell outside the table";

    const auto heading = trs[0]->all("td");
    ASSERT_EQ(heading.size(), 13u);
    EXPECT_EQ(heading[0]->textContent(), " Policy");
    EXPECT_EQ(heading[12]->textContent(), " Schedule Type");
    const auto section = trs[1]->all("td");
    ASSERT_EQ(section.size(), 1u);
    EXPECT_EQ(section[0]->textContent(), " Daily Policies ");

    for (std::size_t r = 0; r < rows.size(); ++r) {
        SCOPED_TRACE("row " + std::to_string(r + 3) + " of the table");
        const DomNode& tr = *trs[r + 2];
        const ExpectedRow& row = rows[r];
        EXPECT_EQ(tr.attribute("bgcolor"), row.highlighted ? "DD44EE" : "");
        const auto tds = tr.all("td");
        ASSERT_EQ(tds.size(), row.cellCount);
        for (const auto& [column, text] : row.cells)
            EXPECT_EQ(tds[column]->textContent(), text) << "column " << column;
        for (std::size_t c = 0; c < tds.size(); ++c) {
            // A name's cell holds text only; the Not Found cell its font and
            // bold, as written.
            const bool notFoundCell = row.notFound && c == 1;
            const std::vector<std::string> inside =
                notFoundCell ? std::vector<std::string>{"font", "b"} : std::vector<std::string>{};
            EXPECT_EQ(tds[c]->elementNamesBelow(), inside) << "column " << c;
        }
        if (row.notFound) {
            EXPECT_EQ(tds[1]->attribute("colspan"), "12");
        }
    }
}

std::vector<std::string> chromiumCommand(const std::filesystem::path& page,
                                         const std::filesystem::path& profile) {
    // As root Chromium runs only without its sandbox; the rest keeps a
    // headless run quiet and off the network.
    return {"chromium",
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--user-data-dir=" + profile.string(),
            "--dump-dom",
            "file://" + page.string()};
}

TEST(PageInABrowser, HostileNamesStayTextInTheirOwnCells) {
    if (!onPath("chromium"))
        GTEST_SKIP() << "chromium is not installed (Debian package chromium; "
                        "scripts/install-deps.sh installs it)";
    ASSERT_TRUE(clockFreezes()) << "the run needs libfaketime (Debian package faketime)";

    // The page names no character set, so a browser guesses one: raw 8-bit
    // bytes make it read the page in a single-byte code page, a page of
    // UTF-8 alone is read as UTF-8. A page that mixes both shows the UTF-8
    // names byte by byte in the single-byte code page.
    std::vector<std::string> eightBit = kMarkup;
    eightBit.insert(eightBit.end(), {"caf\xE9", "M\xFCller-\xE9t\xE9"});
    const std::vector<PageCase> pages = {
        {"markup and 8-bit bytes", eightBit, fromLatin1},
        {"markup and UTF-8",
         {"Z\xC3\xBCrich", "\xE6\x9D\xB1\xE4\xBA\xAC", "<b>\xC3\xA9</b>"},
         asItIs},
    };

    struct Render {
        std::unique_ptr<TempDir> appDir = std::make_unique<TempDir>();
        std::unique_ptr<TempDir> profile = std::make_unique<TempDir>();
        std::unique_ptr<Child> browser;
        Inputs inputs;
    };
    std::vector<Render> renders(pages.size());
    for (std::size_t p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE(pages[p].what);
        Render& render = renders[p];
        const TempDir& appDir = *render.appDir;
        installProgram(appDir);
        render.inputs = inputsFor(pages[p]);
        std::string dump;
        for (const DumpJob& job : render.inputs.jobs)
            dump += dumpLine(job);
        appDir.write("bpdbjobs.txt", dump);
        std::string list;
        for (const std::string& policy : render.inputs.policyList)
            list += policy + "\r\n";
        appDir.write("policy_list.txt", list);
        appDir.write("fennick_config.txt", configText({{3, kRetentionLabel}}));

        ASSERT_EQ(runUnattended(appDir), "");
        ASSERT_TRUE(appDir.exists(kPage));
        // Both pages render at once: most of a headless start is waiting.
        render.browser = std::make_unique<Child>(
            chromiumCommand(appDir.file(kPage), render.profile->path()),
            ChildOptions{.output = appDir.file("dom.html"), .errors = appDir.file("chromium.err")});
    }

    for (std::size_t p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE(pages[p].what);
        Render& render = renders[p];
        // A headless start takes seconds. A script that the page lets in
        // holds the dump with its alert() until the browser is stopped.
        const std::optional<int> status = render.browser->waitFor(45s);
        ASSERT_TRUE(status.has_value())
            << "chromium did not finish within 45 s: does a script on the page wait in a dialog?";
        const std::string dom = render.appDir->read("dom.html");
        ASSERT_EQ(*status, 0) << render.appDir->read("chromium.err");
        ASSERT_FALSE(dom.empty()) << render.appDir->read("chromium.err");

        DomNode document;
        try {
            document = parseDom(dom);
        } catch (const std::exception& unreadable) {
            FAIL() << unreadable.what() << "\n" << dom;
        }
        EXPECT_NE(document.textContent().find("Start: 12/04/2026 02:15:00"), std::string::npos)
            << dom;
        checkTree(document, expectedRows(render.inputs, pages[p].shown));
        if (HasFailure())
            std::cerr << "the browser's tree:\n" << dom << "\n";
    }
}

}  // namespace
}  // namespace fennick::test
